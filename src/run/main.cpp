// Entry point: start-up, then the driver.
#include <string>
#include <vector>

#include "platform/platform.h"
#include "run/driver.h"

int main(int argc, char** argv) {
    using namespace tessarwick;
    uint32_t startTick = platform::tickMilliseconds();
    platform::lowerPriority();
    std::vector<std::string> arguments;
    platform::collectArguments(argc, argv, arguments);
    return runDriver(arguments, startTick);
}
