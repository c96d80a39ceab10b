#include "ShellCommands.h"

#include <cstdlib>
#include <map>

namespace phone {

namespace {

using Words = std::vector<std::string>;

std::string Joined(const Words& words, size_t from) {
    std::string text;
    for (size_t i = from; i < words.size(); ++i) text += (i > from ? " " : "") + words[i];
    return text;
}

std::map<std::string, std::string> Properties(const PhoneIdentity& id) {
    return {{"ro.build.version.release", id.release}, {"ro.build.version.sdk", "29"},
            {"ro.product.device", id.device},         {"ro.product.model", id.model},
            {"ro.product.name", id.device},           {"ro.serialno", id.serial}};
}

ShellResult Getprop(PhoneState& phone, const Words& words) {
    const auto properties = Properties(phone.Identity());
    ShellResult result;
    if (words.size() < 2) {
        for (const auto& [key, value] : properties)
            result.out += "[" + key + "]: [" + value + "]\n";
        return result;
    }
    const auto found = properties.find(words[1]);
    result.out = (found != properties.end() ? found->second
                                            : (words.size() > 2 ? words[2] : std::string())) +
                 "\n";
    return result;
}

ShellResult Pm(PhoneState& phone, const Words& words) {
    ShellResult result;
    if (words.size() >= 3 && words[1] == "list" && words[2] == "packages") {
        for (const auto& name : phone.Packages()) result.out += "package:" + name + "\n";
        return result;
    }
    if (words.size() >= 3 && words[1] == "install" && words.back()[0] != '-') {
        result.out = phone.Install(words.back());
        result.exitCode = result.out.rfind("Success", 0) == 0 ? 0 : 1;
        return result;
    }
    result.err = "Error: unknown or incomplete pm command: " + Joined(words, 1) + "\n";
    result.exitCode = 1;
    return result;
}

ShellResult Rm(PhoneState& phone, const Words& words) {
    ShellResult result;
    bool force = false;
    for (size_t i = 1; i < words.size(); ++i) {
        if (words[i].size() > 1 && words[i][0] == '-') {
            force = force || words[i].find('f') != std::string::npos;
        } else if (!phone.RemoveFile(words[i]) && !force) {
            result.err += "rm: " + words[i] + ": No such file or directory\n";
            result.exitCode = 1;
        }
    }
    return result;
}

ShellResult Am(const Words& words) {
    ShellResult result;
    if (words.size() < 2 || words[1] != "start") {
        result.err = "Error: unknown or incomplete am command\n";
        result.exitCode = 1;
        return result;
    }
    std::string component;
    for (size_t i = 2; i + 1 < words.size(); ++i)
        if (words[i] == "-n") component = words[i + 1];
    result.out = "Starting: Intent { " +
                 (component.empty() ? Joined(words, 2) : "cmp=" + component) + " }\n";
    return result;
}

ShellResult Ls(PhoneState& phone, const Words& words) {
    ShellResult result;
    const std::string path = words.size() > 1 ? words.back() : "/";
    const auto stat = phone.StatPath(path);
    if (!stat) {
        result.err = "ls: " + path + ": No such file or directory\n";
        result.exitCode = 1;
    } else if ((stat->mode & 0170000) == 0100000) {
        result.out = path + "\n";
    } else {
        for (const auto& [name, entry] : phone.List(path)) result.out += name + "\n";
    }
    return result;
}

ShellResult Cat(PhoneState& phone, const Words& words) {
    ShellResult result;
    for (size_t i = 1; i < words.size(); ++i) {
        if (auto bytes = phone.ReadFile(words[i])) {
            result.out += *bytes;
        } else {
            result.err += "cat: " + words[i] + ": No such file or directory\n";
            result.exitCode = 1;
        }
    }
    return result;
}

// Hosts add redirections ("</dev/null", "2>&1") that change nothing for these commands.
Words WithoutRedirections(const Words& words) {
    Words kept;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const size_t digits = word.find_first_not_of("0123456789&");
        if (digits == std::string::npos || (word[digits] != '<' && word[digits] != '>')) {
            kept.push_back(word);
            continue;
        }
        // A bare operator takes the next word as its file.
        if (word.find_first_not_of("<>&0123456789") == std::string::npos && word.back() != '&' &&
            !(word.size() > 2 && word[word.size() - 2] == '&'))
            ++i;
    }
    return kept;
}

}  // namespace

std::vector<std::string> ShellWords(const std::string& line) {
    Words words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote == '\'') {
            if (c == '\'')
                quote = 0;
            else
                word += c;
        } else if (c == '\\' && i + 1 < line.size() &&
                   (quote == 0 || line[i + 1] == '"' || line[i + 1] == '\\' ||
                    line[i + 1] == '$')) {
            word += line[++i];
            inWord = true;
        } else if (quote == '"') {
            if (c == '"')
                quote = 0;
            else
                word += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

ShellResult RunShellCommand(PhoneState& phone, const std::string& line) {
    const Words words = WithoutRedirections(ShellWords(line));
    if (words.empty()) return {};
    phone.Record("shell: " + line);
    const std::string& name = words[0];
    if (name == "echo") return {Joined(words, 1) + "\n", "", 0, false};
    if (name == "getprop") return Getprop(phone, words);
    if (name == "pm") return Pm(phone, words);
    if (name == "rm") return Rm(phone, words);
    if (name == "am") return Am(words);
    if (name == "ls") return Ls(phone, words);
    if (name == "cat") return Cat(phone, words);
    if (name == "mkdir") {
        for (size_t i = 1; i < words.size(); ++i)
            if (words[i][0] != '-') phone.MakeFolder(words[i]);
        return {};
    }
    if (name == "exit") return {"", "", words.size() > 1 ? std::atoi(words[1].c_str()) : 0, true};
    return {"", "/system/bin/sh: " + name + ": inaccessible or not found\n", 127, false};
}

}  // namespace phone
