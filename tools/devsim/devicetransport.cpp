#include "tools/devsim/devicetransport.h"

DeviceTransport::~DeviceTransport() = default;
