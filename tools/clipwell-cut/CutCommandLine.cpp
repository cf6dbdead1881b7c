// Parsing the command line of clipwell-cut.
#include "CutCommandLine.h"

#include "MarkTime.h"
#include "MyUtils.h"
#include "WaveformCommand.h"

#include <cctype>
#include <cstdint>

namespace {

std::string CommandName(TCutCommand command) {
    switch (command) {
    case TCutCommand::Info:
        return "info";
    case TCutCommand::Select:
        return "select";
    case TCutCommand::Delete:
        return "delete";
    default:
        return "";
    }
}

} // namespace

bool ParseMarkTime(const std::string& text, int64_t& ms) {
    return ParseMarkText(text, TMarkNotation{}, ms);
}

bool ParseCutCommandLine(const std::vector<std::string>& args, TCutOptions& options, std::string& error) {
    options = TCutOptions();
    std::vector<std::string> positional;
    bool haveStart = false, haveEnd = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool inlineValue = false;
        if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
            value = arg.substr(arg.find('=') + 1);
            arg.erase(arg.find('='));
            inlineValue = true;
        }
        if (arg == "--help" || arg == "-h") {
            options.Command = TCutCommand::Help;
            return true;
        } else if (arg == "--version") {
            options.Command = TCutCommand::Version;
            return true;
        } else if (arg == "--start" || arg == "--end") {
            if (!inlineValue) {
                if (i + 1 >= args.size()) {
                    error = arg + " needs a time";
                    return false;
                }
                value = args[++i];
            }
            int64_t ms = 0;
            if (!ParseMarkTime(value, ms)) {
                error = "not a time for " + arg + ": \"" + value + "\" (milliseconds or 00:00:02.500)";
                return false;
            }
            (arg == "--start" ? options.StartMs : options.EndMs) = ms;
            (arg == "--start" ? haveStart : haveEnd) = true;
        } else if (arg == "--overwrite" || arg == "--progress" || arg == "--quiet" || arg == "--lossless" ||
                   arg == "--json") {
            if (inlineValue) {
                error = arg + " takes no value";
                return false;
            }
            (arg == "--overwrite"  ? options.Overwrite
             : arg == "--progress" ? options.Progress
             : arg == "--lossless" ? options.Lossless
             : arg == "--json"     ? options.Json
                                   : options.Quiet) = true;
        } else if (arg == "--") {
            positional.insert(positional.end(), args.begin() + i + 1, args.end());
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.empty()) {
        error = "no command given";
        return false;
    }
    std::string command = positional[0];
    if (command == "info")
        options.Command = TCutCommand::Info;
    else if (command == "select")
        options.Command = TCutCommand::Select;
    else if (command == "delete")
        options.Command = TCutCommand::Delete;
    else if (command == "help") {
        options.Command = TCutCommand::Help;
        return true;
    } else {
        error = "unknown command \"" + command + "\"";
        return false;
    }
    std::string name = CommandName(options.Command);
    if (options.Command == TCutCommand::Info) {
        if (positional.size() != 2) {
            error = "info takes one FILE";
            return false;
        }
        if (haveStart || haveEnd || options.Overwrite || options.Progress || options.Lossless) {
            error = "info takes no marks and no --overwrite, --progress or --lossless";
            return false;
        }
        options.Input = positional[1];
        return true;
    }
    if (options.Json) {
        error = "--json goes with info only";
        return false;
    }
    if (positional.size() != 3) {
        error = name + " takes INPUT and OUTPUT";
        return false;
    }
    if (!haveStart || !haveEnd) {
        error = name + " needs --start and --end";
        return false;
    }
    options.Input = positional[1];
    options.Output = positional[2];
    if (options.Input.empty() || options.Output.empty()) {
        error = "empty file name";
        return false;
    }
    return true;
}

std::string CutUsageText() {
    return "Usage: clipwell-cut info FILE [--json]\n"
           "       clipwell-cut select INPUT OUTPUT --start S --end E [--overwrite] [--progress] [--quiet]\n"
           "              [--lossless]\n"
           "       clipwell-cut delete INPUT OUTPUT --start S --end E [--overwrite] [--progress] [--quiet]\n"
           "              [--lossless]\n" +
           WaveformUsageText() +
           "\n"
           "Cuts an audio file (MP3, AAC, WAV, WMA, OGG, OGA, OPUS, FLAC or M4A with one audio stream)\n"
           "the way Clipwell's window saves it.\n"
           "\n"
           "Commands:\n"
           "  info    print what Clipwell learns about FILE, one key=value line each: codec, channels,\n"
           "          sample_rate, bit_rate, duration_us, streams, audio_streams; with --json one JSON\n"
           "          object with the same keys\n"
           "  select  write the segment from S to E into OUTPUT\n"
           "  delete  cut the segment from S to E out and write what comes before and after it,\n"
           "          joined without a gap, into OUTPUT\n"
           "\n"
           "S and E are milliseconds (2500) or a display time (00:00:02.500). OUTPUT gets the\n"
           "extension of INPUT (out.dat for a .wma input writes out.wma); its encoder, channels,\n"
           "sample rate and bit rate follow INPUT.\n"
           "\n"
           "Options:\n"
           "  --start S    the start mark\n"
           "  --end E      the end mark\n"
           "  --lossless   copy the compressed frames instead of re-encoding: no loss and fast;\n"
           "               MP3, WAV, Ogg Vorbis, Opus and FLAC cuts play the marked samples;\n"
           "               AAC, WMA and M4A cuts keep whole frames (the distance is printed);\n"
           "               a delete's seam that frames cannot place exactly prints its distance.\n"
           "               Other formats, and files that cannot be copied, are re-encoded after\n"
           "               a notice\n"
           "  --overwrite  replace an existing OUTPUT (otherwise it is refused)\n"
           "  --progress   show the progress on stderr: one updating line with the percentage, a bar\n"
           "               and the time left on a terminal, else lines (\"Progress: 25.00%\")\n"
           "  --quiet      print nothing but errors\n"
           "  --json       info only: print one JSON object\n"
           "  --help       print this text\n"
           "  --version    print the version\n"
           "  --           end of the options: what follows are file names, even when they start\n"
           "               with \"-\" (clipwell-cut select --start 0 --end 900 -- -a.mp3 -b.mp3)\n"
           "\n"
           "Exit status:\n"
           "  0    done\n"
           "  1    the conversion failed, or the output could not be written (its message on stderr)\n"
           "  2    usage error\n"
           "  3    refused: unsupported format, not an audio file, output exists (or appeared while\n"
           "       saving), output is the input, empty selection, start beyond the end of the file,\n"
           "       nothing left after deleting\n"
           "  130  interrupted (Ctrl+C): no partial output, temporary files removed\n"
           "\n" +
           WaveformHelpText();
}
