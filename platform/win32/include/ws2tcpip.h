#pragma once
// Name resolution (getaddrinfo, inet_ntop) comes with the sockets header here.

#include "winsock2.h"
