// The restore as a model check of where it writes. A small fixed set of
// removal rules over a small in-memory registry that holds what a user
// could have planted (a link inside a rule's key, a link as a rule's key),
// a link the system itself follows (CurrentControlSet), other keys and
// values beside the targets, and a user's loaded hives. Each input is a
// document the restorer takes as vouched for: either the bytes as a .reg
// file, or sections built from the bytes out of names close to the
// targets'. Properties, whatever the document says: nothing escapes; no key
// stays open; a preview changes nothing; and a real restore creates keys,
// sets values and makes links only inside the rules' targets, never deletes
// anything, and never points an existing link elsewhere or makes an existing
// key a link.
//
// Speed matters (a few seconds of fuzzing must reach deep): the registry,
// the targets and the state before are built once; an input only copies the
// small state back.
#include "backup/RegFile.h"
#include "common/RegistryName.h"
#include "fuzz/FuzzSupport.h"
#include "platform/doubles/MemoryRegistry.h"
#include "rules/RegistryRestore.h"
#include "rules/RestoreTargets.h"

#include <map>
#include <string>
#include <vector>

using namespace keystrip;
using namespace keystrip::platform;
using keystrip::fuzz::Input;

namespace {

const std::u16string kHive = u"S-1-5-21-1-2-3-4";
const std::u16string kMachine = u"\\REGISTRY\\MACHINE\\";
const std::u16string kUser = u"\\REGISTRY\\USER\\S-1-5-21-0-0-0-1000\\";
const std::u16string kUsers = u"\\REGISTRY\\USER\\";

struct TWorld {
    MemoryRegistry Base;
    TRestoreTargets Targets;
    // Kernel names of the rules' keys (their trees may be written) and of
    // the value rules' keys with their value.
    std::vector<std::u16string> KeyTargets;
    std::vector<std::pair<std::u16string, std::u16string>> ValueTargets;
    std::map<std::u16string, MemoryRegistry::KeyContent> Before; // by folded kernel name

    TWorld() {
        auto rule = [&](TZolvaProductRootKey root, const std::u16string& key,
                        const std::u16string& name, TZolvaProductRemoveAction action) {
            Targets.Add(TZolvaProductRemoveRule{root, key, name, action});
        };
        rule(rkLocalMachine, u"SOFTWARE\\Z\\P", u"", raCompleteKey);
        rule(rkLocalMachine, u"SOFTWARE\\Run", u"Ours", raNameOnly);
        rule(rkLocalMachine, u"SYSTEM\\CCS\\Services\\Svc", u"", raCompleteKey);
        rule(rkCurrentUser, u"Software\\Z\\P", u"", raCompleteKey);
        rule(rkCurrentUser, u"Software\\Z\\Q", u"", raCompleteKey);
        rule(rkCurrentUser, u"Software\\Run", u"Ours", raNameOnly);
        rule(rkCurrentUser, u"Software\\Classes\\C", u"", raCompleteKey);
        rule(rkClassesRoot, u".z", u"", raCompleteKey);
        rule(rkUsers, u".DEFAULT\\Software\\Z\\P", u"", raCompleteKey);

        const std::u16string user = kUsers + kHive + u"\\";
        const std::u16string classes = kUsers + kHive + u"_Classes\\";
        KeyTargets = {kMachine + u"SOFTWARE\\Z\\P",
                      kMachine + u"SYSTEM\\CS1\\Services\\Svc",
                      kUser + u"Software\\Z\\P",
                      kUser + u"Software\\Z\\Q",
                      kUser + u"Software\\Classes\\C",
                      kMachine + u"SOFTWARE\\Classes\\.z",
                      kUsers + u".DEFAULT\\Software\\Z\\P",
                      user + u"Software\\Z\\P",
                      user + u"Software\\Z\\Q",
                      user + u"Software\\Classes\\C",
                      classes + u"C",
                      classes + u".z"};
        ValueTargets = {{kMachine + u"SOFTWARE\\Run", u"Ours"},
                        {kUser + u"Software\\Run", u"Ours"},
                        {user + u"Software\\Run", u"Ours"}};

        // Every key on the way to a target exists, so that a restore has no
        // reason to create anything outside them.
        Base.SetString(kHkeyLocalMachine, u"SOFTWARE\\Z\\P\\S", u"v", u"old");
        Base.SetString(kHkeyLocalMachine, u"SOFTWARE\\Run", u"Theirs", u"their.exe");
        Base.SetString(kHkeyLocalMachine, u"SOFTWARE\\Outside", u"v", u"precious");
        Base.CreateLink(kHkeyLocalMachine, u"SOFTWARE\\Z\\P\\L", kHkeyLocalMachine,
                        u"SOFTWARE\\Outside");
        Base.CreateKey(kHkeyLocalMachine, u"SYSTEM\\CS1\\Services\\Other");
        Base.CreateLink(kHkeyLocalMachine, u"SYSTEM\\CCS", kHkeyLocalMachine, u"SYSTEM\\CS1");
        Base.SetString(kHkeyCurrentUser, u"Software\\Run", u"Theirs", u"their.exe");
        Base.CreateKey(kHkeyCurrentUser, u"Software\\Classes");
        Base.CreateKey(kHkeyCurrentUser, u"Software\\Z\\P");
        Base.CreateLink(kHkeyCurrentUser, u"Software\\Z\\Q", kHkeyLocalMachine,
                        u"SOFTWARE\\Outside");
        Base.CreateKey(kHkeyClassesRoot, u".y");
        Base.CreateKey(kHkeyUsers, u".DEFAULT\\Software\\Z");
        MemoryRegistry hive;
        hive.SetString(kHkeyLocalMachine, u"Software\\Run", u"Theirs", u"their.exe");
        hive.CreateKey(kHkeyLocalMachine, u"Software\\Z");
        hive.CreateKey(kHkeyLocalMachine, u"Software\\Classes");
        Base.MountHive(kHkeyUsers, kHive, hive, kHkeyLocalMachine);
        Base.MountHive(kHkeyUsers, kHive + u"_Classes", MemoryRegistry(), kHkeyLocalMachine);
        for (const auto& key : Base.Content())
            Before[FoldRegistryName(key.kernelName)] = key;
    }
};

bool Within(const std::u16string& kernelName, const std::u16string& top) {
    return kernelName.size() >= top.size() &&
           SameRegistryName(std::u16string_view(kernelName).substr(0, top.size()), top) &&
           (kernelName.size() == top.size() || kernelName[top.size()] == u'\\');
}

bool InKeyTarget(const TWorld& world, const std::u16string& kernelName) {
    for (const auto& top : world.KeyTargets)
        if (Within(kernelName, top))
            return true;
    return false;
}

bool IsValueTarget(const TWorld& world, const std::u16string& kernelName,
                   const std::u16string& name) {
    for (const auto& [key, value] : world.ValueTargets)
        if (SameRegistryName(kernelName, key) && SameRegistryName(name, value))
            return true;
    return false;
}

const MemoryRegistry::KeyContent::ValueContent*
FindValue(const std::vector<MemoryRegistry::KeyContent::ValueContent>& values,
          const std::u16string& name) {
    for (const auto& value : values)
        if (SameRegistryName(value.name, name))
            return &value;
    return nullptr;
}

// What the restore changed, checked against the targets.
void CheckWrites(const TWorld& world, const std::vector<MemoryRegistry::KeyContent>& after,
                 bool preview) {
    size_t kept = 0;
    for (const auto& key : after) {
        const auto before = world.Before.find(FoldRegistryName(key.kernelName));
        if (before == world.Before.end()) {
            FUZZ_CHECK(!preview);
            FUZZ_CHECK(InKeyTarget(world, key.kernelName)); // created, or made a link
            continue;
        }
        ++kept;
        const auto& old = before->second;
        FUZZ_CHECK(key.isLink == old.isLink);         // a key never becomes a link
        FUZZ_CHECK(key.linkTarget == old.linkTarget); // a link is never pointed elsewhere
        for (const auto& value : old.values)
            FUZZ_CHECK(FindValue(key.values, value.name) != nullptr); // nothing deleted
        for (const auto& value : key.values) {
            const auto* was = FindValue(old.values, value.name);
            if (was != nullptr && *was == value)
                continue;
            FUZZ_CHECK(!preview);
            FUZZ_CHECK(InKeyTarget(world, key.kernelName) ||
                       IsValueTarget(world, key.kernelName, value.name));
        }
    }
    FUZZ_CHECK(kept == world.Before.size()); // no key deleted
}

// --- Documents built from the bytes ------------------------------------------------

const char16_t* const kRoots[] = {
    u"HKEY_LOCAL_MACHINE",
    u"HKEY_CURRENT_USER",
    u"HKEY_CLASSES_ROOT",
    u"HKEY_USERS",
    u"HKEY_CURRENT_CONFIG",
    u"HKEY_USERS\\S-1-5-21-1-2-3-4",
    u"HKEY_USERS\\S-1-5-21-1-2-3-4_Classes",
    u"HKEY_USERS\\.DEFAULT",
    u"hkey_local_machine\\software",
    u"HKEY_USERS\\S-1-5-21-0-0-0-1000",
};
const char16_t* const kParts[] = {
    u"SOFTWARE", u"Software",    u"Z",   u"P",        u"p",     u"Q",       u"L", u"S",  u"Run",
    u"SYSTEM",   u"CCS",         u"CS1", u"Services", u"Svc",   u"Classes", u"C", u".z", u".y",
    u"Outside",  u"Wow6432Node", u"X",   u"P\u00e4",  u"Other", u"..",
};
const char16_t* const kValueNames[] = {u"", u"Ours", u"ours", u"Theirs", u"SymbolicLinkValue",
                                       u"v"};
const char16_t* const kLinkTargets[] = {
    u"\\REGISTRY\\MACHINE\\SOFTWARE\\Outside", u"\\REGISTRY\\MACHINE\\SOFTWARE\\Run",
    u"\\REGISTRY\\MACHINE\\SOFTWARE\\Z\\P",    u"\\REGISTRY\\USER\\S-1-5-21-0-0-0-1000\\Software",
    u"\\REGISTRY\\MACHINE\\SYSTEM\\CS1",
};

template <size_t N> const char16_t* Pick(Input& in, const char16_t* const (&list)[N]) {
    return list[in.Byte() % N];
}

std::vector<uint8_t> Utf16Bytes(const std::u16string& text) {
    std::vector<uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

TRegFileDocument Build(Input& in) {
    TRegFileDocument document;
    const int sections = 1 + in.Byte() % 6;
    for (int s = 0; s < sections; ++s) {
        TRegFileKey key;
        key.Line = 2 + s;
        key.Path = Pick(in, kRoots);
        const int parts = in.Byte() % 6;
        for (int p = 0; p < parts; ++p)
            key.Path += std::u16string(u"\\") + Pick(in, kParts);
        const int values = in.Byte() % 4;
        for (int v = 0; v < values; ++v) {
            TRegFileValue value;
            value.Name = Pick(in, kValueNames);
            const uint8_t kind = in.Byte();
            if (kind % 4 == 0) {
                value.Type = kRegLink;
                value.Data = Utf16Bytes(Pick(in, kLinkTargets));
            } else {
                value.Type = kind % 4 == 1 ? kRegSz : kind % 4 == 2 ? kRegDword : kind;
                const int bytes = in.Byte() % 6;
                for (int b = 0; b < bytes; ++b)
                    value.Data.push_back(in.Byte());
            }
            key.Values.push_back(std::move(value));
        }
        document.Keys.push_back(std::move(key));
    }
    return document;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const TWorld world;
    static MemoryRegistry registry;
    Input in(data, size);
    const uint8_t mode = in.Byte();
    TRegFileDocument document;
    if (mode % 8 == 0) {
        try {
            document = ReadRegFile(data + 1, size > 0 ? size - 1 : 0);
        } catch (const ERegFileError&) {
            return 0;
        }
    } else {
        document = Build(in);
    }
    const bool preview = (mode & 0x80) != 0;
    registry.CopyContentFrom(world.Base);
    TActivityLogger log;
    TRegistryRestorer restorer(&log, registry, world.Targets);
    restorer.SetPreviewOnly(preview);
    restorer.RestoreVouched(u"fuzz.reg", document);
    FUZZ_CHECK(registry.OpenHandleCount() == 0);
    CheckWrites(world, registry.Content(), preview);
    return 0;
}
