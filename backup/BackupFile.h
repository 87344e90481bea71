// The file a removal backs up to before each deletion: registry-editor text
// (UTF-16LE with its byte order mark, the header line, then one section per
// key), appended to part by part, each part on disk before the deletion it
// covers goes ahead.
#pragma once

#include "platform/Files.h"

#include <memory>
#include <string>

namespace keystrip {

// Where a backup goes. Append returns only once the text is on disk, and
// raises (EKeystripError, with the reason) when it cannot be written.
class IBackupSink {
public:
    virtual ~IBackupSink() = default;
    virtual const std::u16string& Name() const = 0;
    virtual void Append(const std::u16string& RegFileText) = 0;
};

class TBackupFile final : public IBackupSink {
public:
    // Opens FileName for appending: a new or empty file gets the byte order
    // mark and the header; an existing one must already be a backup (it is
    // added to, never replaced). Raises EFileError when it cannot be opened
    // or is something else.
    explicit TBackupFile(const std::u16string& FileName);

    const std::u16string& Name() const override { return FName; }
    void Append(const std::u16string& RegFileText) override;

private:
    std::u16string FName;
    platform::FileAppender FFile;
};

// A backup that could not be opened: every Append raises with the reason,
// so that nothing it was to cover is deleted.
class TUnwritableBackup final : public IBackupSink {
public:
    TUnwritableBackup(std::u16string FileName, std::string Reason)
        : FName(std::move(FileName)), FReason(std::move(Reason)) {}
    const std::u16string& Name() const override { return FName; }
    void Append(const std::u16string& RegFileText) override;

private:
    std::u16string FName;
    std::string FReason;
};

} // namespace keystrip
