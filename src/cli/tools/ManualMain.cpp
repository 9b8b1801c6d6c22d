// quillon-manual: writes the manual pages of both programs and quillon-cli's shell completion from
// the command tables that parse their command lines, at build time.
//   quillon-manual cli-man FILE | gui-man FILE | bash FILE | zsh FILE
#include "cli/CommandLine.h"
#include "gui/ProgramOptions.h"

#include <fstream>
#include <iostream>
#include <sstream>

namespace {

// Text as roff shows it literally.
std::string Roff(const std::string& text)
{
    std::string escaped;
    bool bLineStart = true;
    for (const char c : text) {
        if (bLineStart && (c == '.' || c == '\''))
            escaped += "\\&";
        if (c == '\\')
            escaped += "\\e";
        else if (c == '-')
            escaped += "\\-";
        else
            escaped += c;
        bLineStart = c == '\n';
    }
    return escaped;
}

std::string OptionHead(const CLI::Option& option)
{
    std::string head = "\\fB" + Roff(OptionNames(option)) + "\\fR";
    if (option.get_items_expected_min() > 0)
        head += " \\fI" + Roff(option.get_option_text().empty() ? "VALUE" : option.get_option_text()) + "\\fR";
    return head;
}

// The options of a command as .TP paragraphs; positionals first, as the synopsis names them.
void WriteOptions(std::ostream& out, const CLI::App& command, bool bPositionals)
{
    for (const CLI::Option* pOption : command.get_options()) {
        if (pOption->get_group().empty() || pOption->get_name() == "--help")
            continue;
        if (pOption->nonpositional() == bPositionals)
            continue;
        out << ".TP\n"
            << (bPositionals ? "\\fI" + Roff(pOption->get_name(true)) + "\\fR" : OptionHead(*pOption)) << '\n'
            << Roff(pOption->get_description()) << '\n';
    }
}

std::string Synopsis(const std::string& words, const CLI::App& command)
{
    std::string text = "\\fBquillon\\-cli\\fR [\\fIglobal options\\fR] \\fB" + Roff(words) + "\\fR";
    for (const CLI::Option* pOption : command.get_options()) {
        if (!pOption->nonpositional()) {
            const std::string name = "\\fI" + Roff(pOption->get_name(true)) + "\\fR";
            text += pOption->get_required() ? " " + name : " [" + name + "]";
        }
    }
    return text + " [\\fIoptions\\fR]";
}

void WriteCliManual(std::ostream& out)
{
    CliOptions options;
    CliRawOptions raw;
    const std::unique_ptr<CLI::App> pApp = BuildCommandLine(options, raw);
    CLI::App& app = *pApp;
    const std::string description = app.get_description();
    const std::string summary = description.substr(0, description.find('\n'));
    out << ".TH QUILLON\\-CLI 1 \"\" \"" << Roff(CliVersionText()) << "\" \"User Commands\"\n"
        << ".SH NAME\nquillon\\-cli \\- " << Roff(summary.substr(summary.find(": ") + 2)) << '\n'
        << ".SH SYNOPSIS\n\\fBquillon\\-cli\\fR [\\fIglobal options\\fR] \\fICOMMAND\\fR [\\fIarguments\\fR]\n.br\n"
        << "\\fBquillon\\-cli help\\fR [\\fICOMMAND\\fR]\n"
        << ".SH DESCRIPTION\nThe firmware download and upload of the window program, run on the command line for "
           "scripts, production lines and CI. A bare \\fBquillon\\-cli\\fR prints the help; \\fBCOMMAND "
           "\\-\\-help\\fR shows a command's options and the global options it uses.\n"
        << ".SH GLOBAL OPTIONS\nGiven before or after the command.\n";
    WriteOptions(out, app, false);
    out << ".SH COMMANDS\n";
    for (const auto& [words, pCommand] : LeafCommands(app)) {
        out << ".SS \"" << Roff(words) << "\"\n"
            << Synopsis(words, *pCommand) << "\n.PP\n"
            << Roff(pCommand->get_description()) << '\n';
        WriteOptions(out, *pCommand, true);
        WriteOptions(out, *pCommand, false);
        for (const CliCommandGlobals& entry : CommandGlobals()) {
            if (words != entry.pszCommand)
                continue;
            std::string globals;
            for (const char* pszName : entry.globals)
                globals += std::string(globals.empty() ? "" : ", ") + "\\fB" + Roff(pszName) + "\\fR";
            out << ".PP\nGlobal options it uses: " << globals << ".\n";
        }
    }
    out << ".SH EXIT STATUS\n";
    for (const char* pszLine :
         {"0|success", "1|refused or failed: a message was shown", "2|usage error", "3|no such device or file",
          "4|the command ran, but its output could not all be written",
          "5|several devices: one was refused before it was touched, none failed",
          "6|a device is in use by another program; it was not touched"}) {
        const std::string line = pszLine;
        out << ".TP\n.B " << line.substr(0, 1) << '\n' << Roff(line.substr(2)) << '\n';
    }
    out << ".SH ENVIRONMENT\n.TP\n.B QUILLON_SIM_DIR\nThe emulator's device folder when \\fB\\-\\-sim\\fR is not "
           "given.\n"
        << ".SH FILES\n.TP\n.I ~/.config/ZEL/Quillon.conf\nThe preferences the window's Options dialog stores.\n"
        << ".SH SEE ALSO\n\\fBquillon\\fR(1); \\fBquillon\\-cli doctor\\fR when a device cannot be reached.\n";
}

void WriteGuiManual(std::ostream& out)
{
    ProgramOptions options;
    const std::unique_ptr<CLI::App> pApp = BuildProgramCommandLine(options, "quillon");
    const std::string description = pApp->get_description();
    out << ".TH QUILLON 1 \"\" \"" << Roff(description.substr(0, description.find(": "))) << "\" \"User Commands\"\n"
        << ".SH NAME\nquillon \\- " << Roff(description.substr(description.find(": ") + 2)) << '\n'
        << ".SH SYNOPSIS\n\\fBquillon\\fR [\\fIoptions\\fR]\n"
        << ".SH DESCRIPTION\nThe operator's window: it lists the connected devices, opens a firmware image and "
           "downloads it into the selected device, or uploads the device's firmware into a file.\n"
        << Roff(pApp->get_footer()) << "\n.SH OPTIONS\n";
    WriteOptions(out, *pApp, false);
    out << ".TP\n\\fB\\-\\-help\\fR, \\fB\\-h\\fR\nPrint the help and exit.\n"
        << ".SH ENVIRONMENT\n.TP\n.B QUILLON_SIM_DIR\nThe emulator's device folder when \\fB\\-\\-sim\\fR is not "
           "given.\n"
        << ".SH SEE ALSO\n\\fBquillon\\-cli\\fR(1)\n";
}

// Every command's words and the options it takes (its own and the global ones).
struct CompletionTable {
    std::vector<std::pair<std::string, std::string>> commands;  // "" or "image": the words that may follow
    std::vector<std::pair<std::string, std::string>> options;   // command words: its options
};

std::string Names(const CLI::App& command)
{
    std::string names;
    for (const CLI::Option* pOption : command.get_options()) {
        if (!pOption->nonpositional())
            continue;
        for (const std::string& sname : pOption->get_snames())
            names += " -" + sname;
        for (const std::string& lname : pOption->get_lnames())
            names += " --" + lname;
    }
    return names;
}

CompletionTable Completion()
{
    CliOptions options;
    CliRawOptions raw;
    const std::unique_ptr<CLI::App> pApp = BuildCommandLine(options, raw);
    CompletionTable table;
    const std::string globals = Names(*pApp);
    std::string top;
    for (const CLI::App* pCommand : pApp->get_subcommands({})) {
        top += " " + pCommand->get_name();
        std::string subs;
        for (const CLI::App* pSub : pCommand->get_subcommands({}))
            subs += " " + pSub->get_name();
        if (!subs.empty())
            table.commands.emplace_back(pCommand->get_name(), subs.substr(1));
    }
    table.commands.emplace(table.commands.begin(), "", top.substr(1));
    table.options.emplace_back("", globals.substr(1));
    for (const auto& [words, pCommand] : LeafCommands(*pApp))
        table.options.emplace_back(words, (Names(*pCommand) + globals).substr(1));
    return table;
}

void WriteBash(std::ostream& out)
{
    const CompletionTable table = Completion();
    out << "# bash completion for quillon-cli\n_quillon_cli()\n{\n"
        << "    local cur=${COMP_WORDS[COMP_CWORD]} command='' word words opts\n"
        << "    for word in \"${COMP_WORDS[@]:1:COMP_CWORD-1}\"; do\n"
        << "        [[ $word == -* ]] && continue\n        case \"$command\" in\n";
    for (const auto& [words, next] : table.commands)
        out << "        '" << words << "') [[ \" " << next
            << " \" == *\" $word \"* ]] && command=\"${command:+$command }$word\" ;;\n";
    out << "        esac\n    done\n    case \"$command\" in\n";
    for (const auto& [words, next] : table.commands)
        out << "    '" << words << "') words='" << next << "' ;;\n";
    out << "    esac\n    case \"$command\" in\n";
    for (const auto& [words, opts] : table.options)
        out << "    '" << words << "') opts='" << opts << "' ;;\n";
    out << "    esac\n"
        << "    if [[ $cur == -* ]]; then\n        mapfile -t COMPREPLY < <(compgen -W \"$opts\" -- \"$cur\")\n"
        << "    elif [[ -n $words ]]; then\n        mapfile -t COMPREPLY < <(compgen -W \"$words\" -- \"$cur\")\n"
        << "    fi\n}\ncomplete -o default -o bashdefault -F _quillon_cli quillon-cli\n";
}

void WriteZsh(std::ostream& out)
{
    const CompletionTable table = Completion();
    out << "#compdef quillon-cli\n# zsh completion for quillon-cli\n_quillon_cli() {\n"
        << "    local command='' word next opts\n    for word in ${words[2,CURRENT-1]}; do\n"
        << "        [[ $word == -* ]] && continue\n        case $command in\n";
    for (const auto& [words, next] : table.commands)
        out << "        '" << words << "') [[ \" " << next
            << " \" == *\" $word \"* ]] && command=\"${command:+$command }$word\" ;;\n";
    out << "        esac\n    done\n    next=''\n    case $command in\n";
    for (const auto& [words, next] : table.commands)
        out << "    '" << words << "') next='" << next << "' ;;\n";
    out << "    esac\n    case $command in\n";
    for (const auto& [words, opts] : table.options)
        out << "    '" << words << "') opts='" << opts << "' ;;\n";
    out << "    esac\n"
        << "    if [[ $PREFIX == -* ]]; then\n        compadd -- ${=opts}\n"
        << "    elif [[ -n $next ]]; then\n        compadd -- ${=next}\n    else\n        _files\n    fi\n}\n"
        << "_quillon_cli \"$@\"\n";
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: quillon-manual cli-man|gui-man|bash|zsh FILE\n";
        return 2;
    }
    const std::string kind = argv[1];
    std::ostringstream text;
    if (kind == "cli-man")
        WriteCliManual(text);
    else if (kind == "gui-man")
        WriteGuiManual(text);
    else if (kind == "bash")
        WriteBash(text);
    else if (kind == "zsh")
        WriteZsh(text);
    else {
        std::cerr << "quillon-manual: unknown kind " << kind << '\n';
        return 2;
    }
    std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
    file << text.str();
    file.close();
    if (!file) {
        std::cerr << "quillon-manual: cannot write " << argv[2] << '\n';
        return 1;
    }
    return 0;
}
