#include "devicetransport.h"

DeviceTransport::~DeviceTransport() = default;
