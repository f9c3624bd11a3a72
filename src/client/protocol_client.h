// The protocol client library: speaks the server's control protocol and voice datagrams, for the
// tests, the benchmark and the operator tools.
#pragma once
