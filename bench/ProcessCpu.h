#pragma once
// Processor time this process has used so far, user and system, in seconds:
// the same measure on Linux and on Windows (under wine, what wine charges the
// program's threads).
namespace varnel::bench {

double ProcessCpuSeconds();

}  // namespace varnel::bench
