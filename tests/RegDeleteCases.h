#pragma once
// Deleting from the settings store as the Win32 registry deletes: a value goes alone (a subkey
// of the same name stays, with its tree), and a key goes only when it has no subkeys (a value
// of the same name beside it stays). Plain C++, so that the test of each backend, the INI
// store's and (under Wine) the registry's, runs the same cases against its own store.

#include <algorithm>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

struct RegAccess {
    // Paths are below the case's key, "" being that key itself; values are strings.
    std::function<void(const std::string& path, const std::string& name, const std::string& data)>
        write;
    std::function<void(const std::string& path, const std::string& name)> deleteValue;
    std::function<void(const std::string& path)> deleteSubkey;
    // Name and data text of the value at idx; nullopt past the last one.
    std::function<std::optional<std::pair<std::string, std::string>>(const std::string& path,
                                                                     int idx)>
        valueAt;
    std::function<std::optional<std::string>(const std::string& path, int idx)> subkeyAt;
};

struct RegDeleteCase {
    const char* label;
    bool subkey; // DeleteSubkey(path), else DeleteValue(path, name)
    const char* path;
    const char* name;
    const char* after; // the tree afterwards, as RegTreeText gives it
};

// Names a case in GoogleTest's output.
inline void PrintTo(const RegDeleteCase& c, std::ostream* out) {
    *out << c.label;
}

// Every key below `path` with its values, one "path:name=data,..." per key, names in order.
inline std::string RegTreeText(const RegAccess& store, const std::string& path = "") {
    std::vector<std::string> values;
    for (int i = 0;; ++i) {
        const auto value = store.valueAt(path, i);
        if (!value) break;
        values.push_back(value->first + "=" + value->second);
    }
    std::sort(values.begin(), values.end());
    std::string text = path + ":";
    for (std::size_t i = 0; i < values.size(); ++i)
        text += (i ? "," : "") + values[i];
    std::vector<std::string> subkeys;
    for (int i = 0;; ++i) {
        const auto subkey = store.subkeyAt(path, i);
        if (!subkey) break;
        subkeys.push_back(*subkey);
    }
    std::sort(subkeys.begin(), subkeys.end());
    for (const std::string& subkey : subkeys)
        text += " | " + RegTreeText(store, path.empty() ? subkey : path + "\\" + subkey);
    return text;
}

// The tree every case starts from: the key holds values X and Y beside subkeys X and Y; X has
// a subkey of its own.
inline void PlantRegTree(const RegAccess& store) {
    store.write("", "X", "x");
    store.write("", "Y", "y");
    store.write("X", "Inner", "i");
    store.write("X\\Deep", "D", "d");
    store.write("Y", "Leaf", "l");
}

inline const std::vector<RegDeleteCase>& RegDeleteCases() {
    static const std::vector<RegDeleteCase> cases = {
        {"value beside a subkey of its name", false, "", "X",
         ":Y=y | X:Inner=i | X\\Deep:D=d | Y:Leaf=l"},
        {"value named in other case", false, "", "y", ":X=x | X:Inner=i | X\\Deep:D=d | Y:Leaf=l"},
        {"value of a key that keeps its subkey", false, "X", "Inner",
         ":X=x,Y=y | X: | X\\Deep:D=d | Y:Leaf=l"},
        {"missing value", false, "", "Z", ":X=x,Y=y | X:Inner=i | X\\Deep:D=d | Y:Leaf=l"},
        {"key beside a value of its name", true, "Y", "", ":X=x,Y=y | X:Inner=i | X\\Deep:D=d"},
        {"key with a subkey is refused", true, "X", "",
         ":X=x,Y=y | X:Inner=i | X\\Deep:D=d | Y:Leaf=l"},
        {"key without subkeys, one level down", true, "X\\Deep", "",
         ":X=x,Y=y | X:Inner=i | Y:Leaf=l"},
        {"missing key", true, "Z", "", ":X=x,Y=y | X:Inner=i | X\\Deep:D=d | Y:Leaf=l"},
    };
    return cases;
}

// Plants the tree, deletes as the case says and returns the tree left.
inline std::string RunRegDeleteCase(const RegAccess& store, const RegDeleteCase& c) {
    PlantRegTree(store);
    if (c.subkey)
        store.deleteSubkey(c.path);
    else
        store.deleteValue(c.path, c.name);
    return RegTreeText(store);
}
