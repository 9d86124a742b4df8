// Any text given as a scenario is either compiled or refused with a line
// number and a reason; it never crashes the compiler or reads out of bounds.
#include "scenario.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    sim::ScenarioError err;
    auto plan = sim::compile_scenario(text, &err);
    if (!plan && err.reason.empty())
        __builtin_trap();  // a refusal always says why
    return 0;
}
