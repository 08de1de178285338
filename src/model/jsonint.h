#pragma once

#include <QJsonValue>

#include <cmath>
#include <limits>

// A JSON number with a whole value that fits an int gives that value; anything
// else gives 0. The range is checked here because converting an out-of-range
// double to int is undefined behaviour.
inline int jsonWholeInt(const QJsonValue &value)
{
    if (!value.isDouble())
        return 0;
    const double d = value.toDouble();
    if (!std::isfinite(d) || std::trunc(d) != d)
        return 0;
    if (d < double(std::numeric_limits<int>::min()) || d > double(std::numeric_limits<int>::max()))
        return 0;
    return static_cast<int>(d);
}
