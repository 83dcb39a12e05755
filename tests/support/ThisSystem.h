#pragma once
// What the tests need to know that differs between the systems they run on:
// a serial port name that names no port, and how many threads this process runs.
#include <string>

namespace varnel::test {

// A port name nothing answers to, one for each n (0 to 9): opening it fails as
// for an adapter not plugged in, and the connect dialog lists it.
std::string AbsentPortName(int n = 0);

// Threads of this process now; -1 when they cannot be counted.
int ThreadCount();

}  // namespace varnel::test
