// Exits with what GetAdaptersAddresses answers when asked as Qt asks, for the interfaces
// and their prefixes: ERROR_BUFFER_OVERFLOW (111) where it can list them, so that
// wine-run.sh can tell a Wine that cannot.
#include <winsock2.h>

#include <iphlpapi.h>

int main()
{
    ULONG size = 0;
    return static_cast<int>(GetAdaptersAddresses(AF_UNSPEC,
        GAA_FLAG_INCLUDE_PREFIX | GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_MULTICAST, nullptr, nullptr,
        &size));
}
