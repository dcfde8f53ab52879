#include "select/filemask.h"

#include <algorithm>

#include "library/ascii.h"

namespace zorvex {

namespace {

constexpr const char* DEFAULT_FILE_MASK = "*.*";
constexpr const char* DEFAULT_ENCRYPTION_MASKS[] = {"*.jpg", "*.gif", "*.bmp"};

// Whether mask (with a '.' after it when dotted) covers the whole name. On a
// mismatch only the last '*' is retried one character further on: the runs
// an earlier '*' could take instead never lead to a match the last one
// misses, so the work stays linear in the tries.
bool Covers(std::string_view mask, std::string_view name, bool dotted) {
    const size_t m = mask.size() + (dotted ? 1 : 0);
    auto at = [&](size_t i) { return i < mask.size() ? ToLowerAscii(mask[i]) : '.'; };
    constexpr size_t NONE = static_cast<size_t>(-1);
    size_t p = 0, n = 0, star = NONE, resume = 0;
    while (n < name.size()) {
        if (p < m && at(p) == '*') {
            star = p++;
            resume = n;
        } else if (p < m && (at(p) == '?' || at(p) == ToLowerAscii(name[n]))) {
            ++p;
            ++n;
        } else if (star != NONE) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < m && at(p) == '*') ++p;
    return p == m;
}

std::vector<std::string> Texts(TReStringManager& list) {
    std::vector<std::string> out;
    out.reserve(list.Count());
    for (TStringEntry* e = list.First(); e; e = e->IterNext) out.emplace_back(e->Text);
    return out;
}

bool RemoveMask(TReStringManager& list, std::string_view mask) {
    std::string text(TrimSpaces(mask));
    size_t before = list.Count();
    list.Remove(text.c_str());
    return list.Count() < before;
}

std::string MaskKey(size_t i) {
    return "mask" + std::to_string(i);
}

}  // namespace

bool WildcardMatches(std::string_view mask, std::string_view name) {
    if (name.size() > WILDCARD_NAME_MAX || mask.size() > WILDCARD_MASK_MAX) return true;
    if (mask == "*" || mask == "*.*") return true;
    return Covers(mask, name, false) || Covers(mask, name, true);
}

TFileMasks::TFileMasks(TReSystem& pool)
    : Acceptable(10, 0, pool), Encryption(10, RE_FILE_NAME_LIST, pool) {
    // Every acceptable mask is a word of the subject, not any run of it.
    Acceptable.SetDefaultEntryFlags(RE_WORD);
    Acceptable.SetStateThreshold(RE_STATE_THRESHOLD_INITIAL);
}

std::vector<std::string> TFileMasks::Load(const TProfile& profile) {
    std::vector<std::string> notes;
    Acceptable.Clear();
    for (const std::string& mask : ReadNumberedList(profile, "filemask"))
        Acceptable.AddPattern(mask);
    if (Acceptable.Count() == 0) Acceptable.AddPattern(DEFAULT_FILE_MASK);

    Encryption.Clear();
    int32_t count = profile.GetInt("encryption", "mask_count", 0);
    if (count < 0) {
        notes.push_back("[encryption] mask_count " + std::to_string(count) +
                        " is not a count: the built-in masks are used");
        count = 0;
    } else if (static_cast<size_t>(count) > FILE_MASK_COUNT_MAX) {
        notes.push_back("[encryption] mask_count " + std::to_string(count) + " is more than " +
                        std::to_string(FILE_MASK_COUNT_MAX) + ": only the first " +
                        std::to_string(FILE_MASK_COUNT_MAX) + " masks are read");
        count = static_cast<int32_t>(FILE_MASK_COUNT_MAX);
    }
    EncryptionKeys = static_cast<size_t>(count);
    // An empty key is skipped rather than ending the list, so the masks
    // after it survive the next save.
    size_t skipped = 0;
    for (size_t i = 0; i < EncryptionKeys; ++i) {
        std::string mask = profile.GetString("encryption", MaskKey(i), "", FILE_MASK_MAX);
        if (mask.empty())
            ++skipped;
        else
            Encryption.AddPattern(mask, RE_EXACT);
    }
    if (skipped > 0)
        notes.push_back("[encryption] " + std::to_string(skipped) + " of " + MaskKey(0) + " to " +
                        MaskKey(EncryptionKeys - 1) + " missing or empty: skipped");
    if (Encryption.Count() == 0)
        for (const char* mask : DEFAULT_ENCRYPTION_MASKS) Encryption.AddPattern(mask, RE_EXACT);
    return notes;
}

void TFileMasks::WriteFileMasks(TProfile& profile) {
    WriteNumberedList(profile, "filemask", Texts(Acceptable));
}

void TFileMasks::WriteEncryptionMasks(TProfile& profile) {
    std::vector<std::string> masks = Texts(Encryption);
    for (size_t i = 0; i < masks.size(); ++i) profile.Set("encryption", MaskKey(i), masks[i]);
    profile.SetInt("encryption", "mask_count", static_cast<int32_t>(masks.size()));
    for (size_t i = masks.size(); i < EncryptionKeys; ++i) profile.Delete("encryption", MaskKey(i));
    EncryptionKeys = masks.size();
}

bool TFileMasks::NameAcceptable(std::string_view name) {
    for (TStringEntry* e = Acceptable.First(); e; e = e->IterNext)
        if (WildcardMatches(e->Text, name)) return true;
    return false;
}

bool TFileMasks::SubjectAcceptable(std::string_view subject) {
    return Acceptable.Match(subject);
}

bool TFileMasks::EncryptionMasksMatch(std::string_view name) {
    return Encryption.Match(name);
}

bool TFileMasks::EncryptThis(std::string_view name, bool enable, std::string_view key) {
    return enable && !key.empty() && Encryption.Match(name);
}

bool TFileMasks::AddMask(TReStringManager& list, uint32_t flags, std::string_view mask,
                         std::string* error) {
    auto refuse = [&](std::string why) {
        if (error) *error = std::move(why);
        return false;
    };
    mask = TrimSpaces(mask);
    if (mask.empty()) return refuse("A mask cannot be empty.");
    // A line break would split the settings line the mask is saved on.
    if (std::any_of(mask.begin(), mask.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
        return refuse("A mask cannot contain control characters.");
    if (mask.size() > FILE_MASK_MAX)
        return refuse("A mask can be at most " + std::to_string(FILE_MASK_MAX) + " characters.");
    std::string text(mask);
    if (list.Count() >= FILE_MASK_COUNT_MAX && list.Find(text.c_str()) == nullptr)
        return refuse("A list holds at most " + std::to_string(FILE_MASK_COUNT_MAX) + " masks.");
    list.AddPattern(text, flags);
    return true;
}

bool TFileMasks::AddFileMask(std::string_view mask, std::string* error) {
    return AddMask(Acceptable, 0, mask, error);
}

bool TFileMasks::DeleteFileMask(std::string_view mask) {
    return RemoveMask(Acceptable, mask);
}

std::vector<std::string> TFileMasks::FileMasks() {
    return Texts(Acceptable);
}

bool TFileMasks::AddEncryptionMask(std::string_view mask, std::string* error) {
    return AddMask(Encryption, RE_EXACT, mask, error);
}

bool TFileMasks::DeleteEncryptionMask(std::string_view mask) {
    return RemoveMask(Encryption, mask);
}

std::vector<std::string> TFileMasks::EncryptionMasks() {
    return Texts(Encryption);
}

}  // namespace zorvex
