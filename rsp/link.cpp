// Stub.
#include "rsp/link.h"
