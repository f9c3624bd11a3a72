#include "client/protocol_client.h"
