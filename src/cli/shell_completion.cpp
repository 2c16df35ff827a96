#include "shell_completion.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <vector>

namespace kestrova::cli {
namespace {

// What an option is completed with, read off its declaration.
struct CompletedOption {
    std::vector<std::string> names; // "-o", "--output"
    std::string help;               // its first sentence, with nothing a shell would read
    enum class Value { None, Choices, File, Folder, Other } value = Value::None;
    std::vector<std::string> choices;
};

struct CompletedVerb {
    std::string name;
    std::string help;
    std::vector<CompletedOption> options;
    bool takesFiles = false;          // its arguments are files
    std::vector<std::string> choices; // or one of these names
};

// The help's first sentence, kept to letters a completion list shows as they are: no quotes,
// brackets, colons or backslashes, which each shell's syntax reads.
std::string plainHelp(const std::string& help) {
    std::size_t end = help.size();
    for (const char* stop : {". ", "; ", ": ", " (", ", a decimal"})
        end = std::min(end, help.find(stop));
    const std::string first = help.substr(0, end);
    std::string plain;
    for (const char c : first) {
        if (std::string_view("'\"[]:\\`$()").find(c) == std::string_view::npos)
            plain += c == '\n' ? ' ' : c;
    }
    return plain;
}

std::vector<std::string> splitChoices(const std::string& typeName) {
    std::vector<std::string> choices;
    std::size_t start = 0;
    for (std::size_t bar; (bar = typeName.find('|', start)) != std::string::npos; start = bar + 1)
        choices.push_back(typeName.substr(start, bar - start));
    choices.push_back(typeName.substr(start));
    return choices;
}

CompletedOption completedOption(const CLI::Option& option) {
    CompletedOption completed;
    completed.help = plainHelp(option.get_description());
    for (const std::string& name : option.get_snames())
        completed.names.push_back("-" + name);
    for (const std::string& name : option.get_lnames())
        completed.names.push_back("--" + name);
    if (option.get_expected_min() == 0)
        return completed;
    const std::string type = option.get_type_name();
    if (type.find('|') != std::string::npos) {
        completed.value = CompletedOption::Value::Choices;
        completed.choices = splitChoices(type);
    } else if (type == "FILE") {
        completed.value = CompletedOption::Value::File;
    } else if (type == "FOLDER") {
        completed.value = CompletedOption::Value::Folder;
    } else {
        completed.value = CompletedOption::Value::Other;
    }
    return completed;
}

std::vector<CompletedVerb> completedVerbs(const CLI::App& commandLine) {
    std::vector<CompletedVerb> verbs;
    for (const CLI::App* verb : commandLine.get_subcommands([](const CLI::App*) { return true; })) {
        CompletedVerb completed{.name = verb->get_name(),
                                .help = plainHelp(verb->get_description()),
                                .options = {},
                                .choices = {}};
        for (const CLI::Option* option : verb->get_options()) {
            if (option->get_positional() && option->get_type_name() == "FILE")
                completed.takesFiles = true;
            else if (option->get_positional())
                completed.choices = completedOption(*option).choices;
            else
                completed.options.push_back(completedOption(*option));
        }
        verbs.push_back(std::move(completed));
    }
    return verbs;
}

std::string joined(const std::vector<std::string>& words, const char* between = " ") {
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : between) + word;
    return text;
}

std::string bashVerbCase(const CompletedVerb& verb) {
    std::string script = "    " + verb.name + ")\n        case $prev in\n";
    std::vector<std::string> all;
    for (const CompletedOption& option : verb.options) {
        all.insert(all.end(), option.names.begin(), option.names.end());
        const std::string pattern = joined(option.names, "|");
        if (option.value == CompletedOption::Value::Choices)
            script += "        " + pattern + ") COMPREPLY=($(compgen -W '" +
                      joined(option.choices) + "' -- \"$cur\")); return ;;\n";
        else if (option.value == CompletedOption::Value::File)
            script += "        " + pattern + ") COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n";
        else if (option.value == CompletedOption::Value::Folder)
            script += "        " + pattern + ") COMPREPLY=($(compgen -d -- \"$cur\")); return ;;\n";
        else if (option.value == CompletedOption::Value::Other)
            script += "        " + pattern + ") return ;;\n";
    }
    script += "        esac\n        if [[ $cur == -* ]]; then\n"
              "            COMPREPLY=($(compgen -W '" +
              joined(all) + "' -- \"$cur\"))\n";
    if (verb.takesFiles)
        script += "        else\n            COMPREPLY=($(compgen -f -- \"$cur\"))\n";
    else if (!verb.choices.empty())
        script += "        else\n            COMPREPLY=($(compgen -W '" + joined(verb.choices) +
                  "' -- \"$cur\"))\n";
    return script + "        fi ;;\n";
}

std::string bashScript(const std::string& program, const std::vector<CompletedVerb>& verbs) {
    std::vector<std::string> names;
    for (const CompletedVerb& verb : verbs)
        names.push_back(verb.name);
    const std::string function = "_kestrova_wav_cli";
    std::string script =
        "# bash completion for " + program + "\n" + function +
        "() {\n"
        "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
        "    local verb='' i\n"
        "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
        "        case ${COMP_WORDS[i]} in " +
        joined(names, "|") +
        ") verb=${COMP_WORDS[i]}; break ;; esac\n"
        "    done\n"
        "    case $verb in\n"
        "    '') COMPREPLY=($(compgen -W '" +
        joined(names) + " --help' -- \"$cur\")) ;;\n";
    for (const CompletedVerb& verb : verbs)
        script += bashVerbCase(verb);
    return script + "    esac\n}\ncomplete -o filenames -F " + function + " " + program + "\n";
}

std::string zshArgumentOf(const CompletedOption& option) {
    std::string names = option.names.size() == 1
                            ? option.names.front()
                            : "(" + joined(option.names) + ")'{" + joined(option.names, ",") + "}'";
    std::string argument = "'" + names + "[" + option.help + "]";
    if (option.value == CompletedOption::Value::Choices)
        argument += ":value:(" + joined(option.choices) + ")";
    else if (option.value == CompletedOption::Value::File)
        argument += ":file:_files";
    else if (option.value == CompletedOption::Value::Folder)
        argument += ":folder:_files -/";
    else if (option.value == CompletedOption::Value::Other)
        argument += ":value: ";
    return argument + "'";
}

std::string zshScript(const std::string& program, const std::vector<CompletedVerb>& verbs) {
    std::string script = "#compdef " + program +
                         "\n\n_kestrova_wav_cli() {\n    local -a verbs\n"
                         "    verbs=(\n";
    for (const CompletedVerb& verb : verbs)
        script += "        '" + verb.name + ":" + verb.help + "'\n";
    script += "    )\n    if (( CURRENT == 2 )); then\n        _describe verb verbs\n"
              "        return\n    fi\n    case $words[2] in\n";
    for (const CompletedVerb& verb : verbs) {
        script += "    " + verb.name + ")\n        _arguments -s";
        for (const CompletedOption& option : verb.options)
            script += " \\\n            " + zshArgumentOf(option);
        if (verb.takesFiles)
            script += " \\\n            '*:file:_files'";
        else if (!verb.choices.empty())
            script += " \\\n            ':value:(" + joined(verb.choices) + ")'";
        script += " ;;\n";
    }
    return script + "    esac\n}\n\n_kestrova_wav_cli \"$@\"\n";
}

std::string fishScript(const std::string& program, const std::vector<CompletedVerb>& verbs) {
    std::vector<std::string> names;
    for (const CompletedVerb& verb : verbs)
        names.push_back(verb.name);
    const std::string command = "complete -c " + program;
    std::string script = "# fish completion for " + program + "\n" + command + " -f\n";
    for (const CompletedVerb& verb : verbs)
        script += command + " -n 'not __fish_seen_subcommand_from " + joined(names) + "' -a " +
                  verb.name + " -d '" + verb.help + "'\n";
    for (const CompletedVerb& verb : verbs) {
        const std::string when = " -n '__fish_seen_subcommand_from " + verb.name + "'";
        if (verb.takesFiles)
            script += command + when + " -F\n";
        else if (!verb.choices.empty())
            script += command + when + " -a '" + joined(verb.choices) + "'\n";
        for (const CompletedOption& option : verb.options) {
            script += command + when;
            for (const std::string& name : option.names)
                script +=
                    (name.rfind("--", 0) == 0 ? " -l " + name.substr(2) : " -s " + name.substr(1));
            if (option.value == CompletedOption::Value::Choices)
                script += " -x -a '" + joined(option.choices) + "'";
            else if (option.value == CompletedOption::Value::File)
                script += " -r -F";
            else if (option.value == CompletedOption::Value::Folder)
                script += " -x -a '(__fish_complete_directories)'";
            else if (option.value == CompletedOption::Value::Other)
                script += " -x";
            script += " -d '" + option.help + "'\n";
        }
    }
    return script;
}

} // namespace

std::optional<Shell> shellNamed(std::string_view name) {
    if (name == "bash")
        return Shell::Bash;
    if (name == "zsh")
        return Shell::Zsh;
    if (name == "fish")
        return Shell::Fish;
    return std::nullopt;
}

std::string completionScript(const CLI::App& commandLine, Shell shell) {
    const std::vector<CompletedVerb> verbs = completedVerbs(commandLine);
    const std::string& program = commandLine.get_name();
    switch (shell) {
    case Shell::Bash:
        return bashScript(program, verbs);
    case Shell::Zsh:
        return zshScript(program, verbs);
    case Shell::Fish:
        return fishScript(program, verbs);
    }
    return {};
}

} // namespace kestrova::cli
