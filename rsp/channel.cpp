// Stub.
#include "rsp/channel.h"
