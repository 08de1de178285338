#include "networkconfig.h"

NetworkConfig::NetworkConfig(QObject *parent) : QObject(parent) { }

NetworkConfig::~NetworkConfig() = default;
