// Stub.
#include "rsp/remote_client.h"
