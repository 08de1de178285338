#include "audiodevice.h"

AudioDevice::AudioDevice(QObject *parent) : QObject(parent) { }

// Row records are copies without a parent, so they outlive the reply they came from.
AudioDevice::AudioDevice(const AudioDevice &other)
    : QObject(nullptr),
      sipAccount(other.sipAccount),
      sipPort(other.sipPort),
      displayName(other.displayName),
      vendorTypeName(other.vendorTypeName),
      typeName(other.typeName),
      status(other.status),
      dhcp(other.dhcp),
      ipAddr(other.ipAddr),
      subnetMask(other.subnetMask),
      gateway(other.gateway),
      macAddr(other.macAddr),
      httpPort(other.httpPort)
{
}

AudioDevice::~AudioDevice() = default;
