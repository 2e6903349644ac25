// edgedom-cli: compares three pictures of one scene by their edge strength and writes the
// dominance and region maps, without a window. Failures come out here, once, on one line.
#include "exception.h"
#include "options.h"
#include "pipeline.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <new>
#include <string>

namespace {

int Fail(std::string message)
{
    std::replace(message.begin(), message.end(), '\n', ' ');
    std::cerr << "edgedom-cli: " << message << std::endl;
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    // Qt's image reader passes decoder chatter (such as libpng's notes on colour profiles)
    // to standard error, where it would break the one-line error message; it is silenced
    // unless the user has set logging rules of their own.
    setenv("QT_LOGGING_RULES", "qt.gui.imageio=false", 0);

    TCliOptions options;
    try {
        options = ParseCommandLine(argc, argv);
    } catch (const UsageError &error) {
        std::cerr << "edgedom-cli: " << error.what() << "\n\n" << UsageText();
        return 2;
    }
    if (options.help) {
        std::cout << UsageText();
        return 0;
    }
    if (options.version) {
        std::cout << "edgedom-cli " EDGEDOM_VERSION "\n";
        return 0;
    }

    try {
        RunCommand(options, std::cout);
        return 0;
    } catch (const Exception &error) {
        return Fail(error.Message());
    } catch (const std::bad_alloc &) {
        return Fail("out of memory: the pictures are too large for the memory available.");
    } catch (const std::exception &error) {
        return Fail(error.what());
    }
}
