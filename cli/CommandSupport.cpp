#include <cstdint>

#include "cli/Commands.h"
#include "protocol/CommandSet.h"

namespace varnel::cli {

void Complain(const CommandContext& ctx, const std::string& text) {
  std::fprintf(ctx.err, "varnel-cli: %s\n", text.c_str());
}

bool SinglePort(const CommandContext& ctx, std::string& port) {
  if (ctx.ports.size() != 1) {
    Complain(ctx, ctx.ports.empty() ? "--port is required" : "this command takes one --port");
    return false;
  }
  port = ctx.ports.front();
  return true;
}

void PrintLine(const CommandContext& ctx, const std::string& line) {
  std::fprintf(ctx.out, "%s\n", line.c_str());
  std::fflush(ctx.out);  // a script reading a watch sees each reading as it comes
}

std::string StatusText(std::uint32_t status) {
  if (const auto text = StatusReplyText(status)) return std::string(*text);
  return "status " + std::to_string(status);
}

}  // namespace varnel::cli
