// Stub.
#include "rsp/packet.h"
