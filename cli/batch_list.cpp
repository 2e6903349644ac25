#include "batch_list.h"

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <string_view>

namespace fs = std::filesystem;

namespace {

std::string Absolute(const std::string &path) { return fs::absolute(path).lexically_normal().string(); }

bool SafeInShell(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
           || std::string_view("_./:=@%+,-").find(c) != std::string_view::npos;
}

std::string Quoted(const std::string &word)
{
    if (!word.empty() && std::all_of(word.begin(), word.end(), SafeInShell))
        return word;
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace

std::vector<std::string> CommandWords(const CliOptions &single)
{
    std::vector<std::string> words = {single.program.find('/') == std::string::npos ? single.program
                                                                                     : Absolute(single.program)};
    const auto add = [&words](std::initializer_list<std::string> more) { words.insert(words.end(), more); };
    if (single.align)
        add({"--align"});
    if (single.noMetadata)
        add({"--no-metadata"});
    if (single.quiet)
        add({"--quiet"});
    if (single.verbose)
        add({"--verbose"});
    if (single.jpegQuality != CliOptions().jpegQuality)
        add({"--jpeg-quality", std::to_string(single.jpegQuality)});
    add({"--fused", Absolute(single.fusedFile)});
    if (!single.sourceMapFile.empty())
        add({"--source-map", Absolute(single.sourceMapFile)});
    add({"--"});
    for (const std::string &shot : single.pictures)
        add({Absolute(shot)});
    return words;
}

std::string ShellLine(const std::vector<std::string> &words)
{
    std::string line;
    for (const std::string &word : words) {
        if (!line.empty())
            line += ' ';
        line += Quoted(word);
    }
    return line;
}

int ListBatch(const CliOptions &batch, const std::vector<PlannedStack> &plan, std::ostream &out, std::FILE *errors)
{
    int status = 0;
    for (const PlannedStack &stack : plan) {
        if (stack.state == StackState::ToFuse)
            out << ShellLine(CommandWords(StackCommand(batch, stack))) << '\n';
        else if (stack.state != StackState::UpToDate)
            std::fprintf(errors, "edgedom-cli: %s %s (%s): %s\n",
                         stack.state == StackState::Failed ? "failed" : "skipped", stack.found.name.c_str(),
                         stack.found.origin.c_str(), stack.reason.c_str());
        if (stack.state == StackState::Failed)
            status = 1;
    }
    out.flush();
    return status;
}
