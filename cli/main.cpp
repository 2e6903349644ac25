// edgedom-cli: compares pictures of one scene by their edge strength and writes the maps and
// the all-in-focus picture, of one stack or of a batch of them, without a window. Failures come
// out here, once, on one line.
#include "batch_run.h"
#include "exception.h"
#include "options.h"
#include "pipeline.h"
#include "progress.h"
#include "signal_stop.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iostream>
#include <new>
#include <string>
#include <unistd.h>

namespace {

// Where the tool's own error line goes: the standard error it was started with.
FILE *errorStream = stderr;

// The decoders under Qt (libpng's error handler among them) print to standard error
// directly, which would break the one-line error message. The tool keeps its own copy of
// standard error for that line and points file descriptor 2 at /dev/null while it works.
void SilenceLibraryChatter()
{
    const int ownCopy = dup(STDERR_FILENO);
    const int devNull = open("/dev/null", O_WRONLY);
    if (ownCopy < 0 || devNull < 0)
        return;
    if (FILE *stream = fdopen(ownCopy, "w")) {
        errorStream = stream;
        dup2(devNull, STDERR_FILENO);
    }
    close(devNull);
}

int Fail(std::string message)
{
    std::replace(message.begin(), message.end(), '\n', ' ');
    std::fprintf(errorStream, "edgedom-cli: %s\n", message.c_str());
    std::fflush(errorStream);
    return 1;
}

// Runs the command; returns its exit status.
int Run(const CliOptions &options, std::stop_token stop)
{
    try {
        if (!options.batchDir.empty())
            return RunBatch(options, std::cout, errorStream, stop);
        ProgressReport progress(errorStream, !options.quiet && isatty(fileno(errorStream)), options.verbose);
        ComputeAndSaveMaps(options, std::cout, progress, stop);
        return 0;
    } catch (const FusionCancelled &) {
        return 1; // the signal that stopped it ends the program
    } catch (const Exception &error) {
        return Fail(error.Message());
    } catch (const std::bad_alloc &) {
        return Fail("out of memory: the pictures are too large for the memory available.");
    } catch (const std::exception &error) {
        return Fail(error.what());
    }
}

} // namespace

int main(int argc, char *argv[])
{
    StopOnSignals signals; // before any other thread, which then inherits the blocked signals
    CliOptions options;
    try {
        options = ParseCommandLine(argc, argv);
    } catch (const UsageError &error) {
        std::cerr << "edgedom-cli: " << error.what() << "\nTry 'edgedom-cli --help' for more information.\n";
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

    SilenceLibraryChatter();
    const int status = Run(options, signals.Token());
    if (signals.Received() != 0)
        signals.EndBySignal();
    return status;
}
