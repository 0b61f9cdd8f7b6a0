// Stub.
#include "rsp/server.h"
