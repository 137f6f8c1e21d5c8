#include "settings/datafiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "jobs/job.h"
#include "util/binfile.h"
#include "util/ptrlist.h"
#include "util/textutil.h"

namespace {

constexpr int kSettingsReservedBytes = 100;
constexpr int kEntryReservedBytes = 12;
constexpr int kCodecBufSize = 50; // codec tags up to 48 characters
constexpr int32_t kDisplayNameLimit = 258;
// Paths are read whole up to the platform's limit: a path cut short would
// later be played, tested or deleted as if it were the real one. One byte
// more than a path may hold tells a longer (foreign) path apart.
constexpr int32_t kStoredPathLimit = kPathMaxLen + 2;
constexpr int kMaxDamagedCopies = 1000;

// The version of the history file being read; HistoryReadEntry has only the
// stream to go by.
thread_local int tHistoryVersion = 2;

class HistoryVersionScope {
public:
    explicit HistoryVersionScope(int version) { tHistoryVersion = version; }
    ~HistoryVersionScope() { tHistoryVersion = 2; }
    HistoryVersionScope(const HistoryVersionScope&) = delete;
    HistoryVersionScope& operator=(const HistoryVersionScope&) = delete;
};

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // Closes and reports whether the close itself went well.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

mode_t CurrentUmask() {
    // Read rather than set: umask() would change it for every thread meanwhile.
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[128];
        unsigned mask = 022;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status) != nullptr)
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found) return static_cast<mode_t>(mask);
    }
    return 022;
}

// The permissions a save gives: those of the file it replaces, or those of
// a newly created file.
mode_t SaveMode(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return st.st_mode & 07777;
    return 0666 & ~CurrentUmask();
}

void SyncFolder(const std::string& path) {
    Fd dir(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
}

// Writes a temporary file beside path with body(stream) and puts it in
// place only when every byte reached the disk; otherwise the old file stays.
// A data file that is a symbolic link stays one: the save replaces its target.
std::string ResolveLink(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string target = real;
    std::free(real);
    return target;
}

template <typename Body>
bool SaveAtomically(const std::string& linkPath, Body&& body) {
    const std::string path = ResolveLink(linkPath);
    std::string temp = path + ".tmp-XXXXXX";
    Fd fd(::mkstemp(temp.data()));
    if (fd.get() < 0) return false;
    bool ok = false;
    if (BinFile* file = BinFileOpen(temp.c_str(), 1)) {
        ok = body(file);
        ok = BinFileClose(file) && ok;
    }
    ok = ok && ::fchmod(fd.get(), SaveMode(path)) == 0;
    ok = ok && ::fsync(fd.get()) == 0;
    ok = fd.close() && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(path);
    return true;
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads as much as possible: -1 on error, less than size only at the end.
ssize_t ReadFull(int fd, char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

bool SameContent(const std::string& a, const std::string& b) {
    Fd fa(::open(a.c_str(), O_RDONLY | O_CLOEXEC));
    Fd fb(::open(b.c_str(), O_RDONLY | O_CLOEXEC));
    if (fa.get() < 0 || fb.get() < 0) return false;
    char bufA[16384];
    char bufB[16384];
    for (;;) {
        const ssize_t na = ReadFull(fa.get(), bufA, sizeof bufA);
        const ssize_t nb = ReadFull(fb.get(), bufB, sizeof bufB);
        if (na < 0 || nb < 0 || na != nb) return false;
        if (na == 0) return true;
        if (std::memcmp(bufA, bufB, static_cast<size_t>(na)) != 0) return false;
    }
}

bool CopyInto(int from, int to) {
    char buf[65536];
    for (;;) {
        const ssize_t n = ReadFull(from, buf, sizeof buf);
        if (n < 0) return false;
        if (n == 0) return true;
        if (!WriteAll(to, buf, static_cast<size_t>(n))) return false;
    }
}

// Keeps a copy of a history file that could not be read whole, so that a
// later save cannot destroy what the user had. An existing copy is never
// overwritten; a copy with the same bytes is not made twice.
bool KeepDamagedCopy(const std::string& path) {
    for (int i = 0; i < kMaxDamagedCopies; ++i) {
        std::string copy = path + kDamagedSuffix;
        if (i > 0) {
            copy += '.';
            copy += std::to_string(i);
        }
        Fd out(::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (out.get() < 0) {
            if (errno != EEXIST) return false;
            if (SameContent(path, copy)) return true;
            continue;
        }
        Fd in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        bool ok = in.get() >= 0 && CopyInto(in.get(), out.get());
        ok = ok && ::fchmod(out.get(), SaveMode(path)) == 0;
        ok = ok && ::fsync(out.get()) == 0;
        ok = out.close() && ok;
        if (!ok) {
            ::unlink(copy.c_str());
            return false;
        }
        SyncFolder(copy);
        return true;
    }
    return false;
}

// Reads settings fields in order; once the stream has ended, the remaining
// fields keep what they hold.
class FieldReader {
public:
    explicit FieldReader(BinFile* file) : file_(file) {}

    void Skip(int count) {
        unsigned char buf[kSettingsReservedBytes];
        while (ok_ && count > 0) {
            const int chunk = count < kSettingsReservedBytes ? count : kSettingsReservedBytes;
            ok_ = BinFileRead(file_, buf, chunk) == chunk;
            count -= chunk;
        }
    }

    void Byte(uint8_t& field) {
        uint8_t value = 0;
        if (ok_ && (ok_ = BinFileRead(file_, &value, 1) == 1)) field = value;
    }

    void Int(int16_t& field) {
        uint16_t value = 0;
        if (ok_ && (ok_ = BinFileReadU16(file_, &value) == 2)) field = static_cast<int16_t>(value);
    }

    void Int(int32_t& field) {
        uint32_t value = 0;
        if (ok_ && (ok_ = BinFileReadU32(file_, &value) == 4)) field = static_cast<int32_t>(value);
    }

    void Float(float& field) {
        uint32_t bits = 0;
        if (ok_ && (ok_ = BinFileReadU32(file_, &bits) == 4)) std::memcpy(&field, &bits, sizeof field);
    }

    // A text too long for its field is refused (the field becomes empty);
    // its bytes are skipped so the following fields stay in step.
    void Text(std::string& field, int bufSize) {
        if (!ok_) return;
        buf_[0] = '\0';
        if (BinFileReadStr16(file_, buf_, bufSize) == 1) {
            field = buf_;
        } else if (!file_->damaged && !file_->failed) {
            field.clear();
        } else {
            ok_ = false;
        }
    }

private:
    BinFile* file_;
    bool ok_ = true;
    char buf_[kPathBufSize];
};

void WriteByte(BinFile* file, uint8_t value) {
    BinFileWrite(file, &value, 1);
}

// A text that a load would refuse anyway is stored empty: its 16-bit length
// could not even hold it.
void WriteText16(BinFile* file, const std::string& text, int maxLen) {
    BinFileWriteStr16(file, text.size() <= static_cast<size_t>(maxLen) ? text.c_str() : "");
}

} // namespace

void SettingsLoad(AppSettings& settings, const std::string& path) {
    BinFile* file = BinFileOpen(path.c_str(), 0);
    if (file == nullptr) return;
    if (BinFileExpectText(file, kSettingsSignature) != 1) {
        BinFileClose(file);
        return;
    }
    FieldReader in(file);
    in.Skip(kSettingsReservedBytes);
    in.Text(settings.destFolder, kPathBufSize);
    in.Text(settings.spareFolder, kPathBufSize);
    in.Text(settings.addFolder, kPathBufSize);
    in.Int(settings.profileId);
    in.Byte(settings.showToolbar);
    in.Byte(settings.spareFlag);
    in.Byte(settings.showSettingsPanel);
    in.Byte(settings.showStatusBar);
    in.Int(settings.updateCheckDay);
    in.Byte(settings.showTipAtStart);
    in.Int(settings.maxConversions);
    in.Byte(settings.saveHistory);
    in.Byte(settings.removeStopped);
    in.Byte(settings.disableVideo);
    in.Int(settings.width);
    in.Int(settings.height);
    in.Float(settings.frameRate);
    in.Int(settings.videoBitrate);
    in.Int(settings.aspect);
    in.Byte(settings.disableAudio);
    in.Int(settings.audioBitrate);
    in.Int(settings.channels);
    in.Int(settings.sampleRate);
    in.Int(settings.volume);
    in.Text(settings.videoCodec, kCodecBufSize);
    in.Text(settings.audioCodec, kCodecBufSize);
    in.Byte(settings.internalPlayer);
    in.Byte(settings.shutdownAfter);
    in.Byte(settings.exitAfter);
    BinFileClose(file);
}

bool SettingsSave(const AppSettings& settings, const std::string& path) {
    return SaveAtomically(path, [&settings](BinFile* file) {
        const unsigned char zeros[kSettingsReservedBytes] = {};
        uint32_t rateBits = 0;
        std::memcpy(&rateBits, &settings.frameRate, sizeof rateBits);
        BinFileWriteText(file, kSettingsSignature);
        BinFileWrite(file, zeros, kSettingsReservedBytes);
        WriteText16(file, settings.destFolder, kPathMaxLen);
        WriteText16(file, settings.spareFolder, kPathMaxLen);
        WriteText16(file, settings.addFolder, kPathMaxLen);
        BinFileWriteU16(file, static_cast<uint16_t>(settings.profileId));
        WriteByte(file, settings.showToolbar);
        WriteByte(file, settings.spareFlag);
        WriteByte(file, settings.showSettingsPanel);
        WriteByte(file, settings.showStatusBar);
        BinFileWriteU32(file, static_cast<uint32_t>(settings.updateCheckDay));
        WriteByte(file, settings.showTipAtStart);
        BinFileWriteU16(file, static_cast<uint16_t>(settings.maxConversions));
        WriteByte(file, settings.saveHistory);
        WriteByte(file, settings.removeStopped);
        WriteByte(file, settings.disableVideo);
        BinFileWriteU16(file, static_cast<uint16_t>(settings.width));
        BinFileWriteU16(file, static_cast<uint16_t>(settings.height));
        BinFileWriteU32(file, rateBits);
        BinFileWriteU16(file, static_cast<uint16_t>(settings.videoBitrate));
        BinFileWriteU16(file, static_cast<uint16_t>(settings.aspect));
        WriteByte(file, settings.disableAudio);
        BinFileWriteU16(file, static_cast<uint16_t>(settings.audioBitrate));
        BinFileWriteU16(file, static_cast<uint16_t>(settings.channels));
        BinFileWriteU32(file, static_cast<uint32_t>(settings.sampleRate));
        BinFileWriteU16(file, static_cast<uint16_t>(settings.volume));
        WriteText16(file, settings.videoCodec, kCodecBufSize - 2);
        WriteText16(file, settings.audioCodec, kCodecBufSize - 2);
        WriteByte(file, settings.internalPlayer);
        WriteByte(file, settings.shutdownAfter);
        WriteByte(file, settings.exitAfter);
        return true;
    });
}

HistoryReadResult HistoryRead(JobStore* store, const std::string& path) {
    if (store == nullptr || store->list == nullptr) {
        errno = EINVAL;
        return HistoryReadResult::Unreadable;
    }
    BinFile* file = BinFileOpen(path.c_str(), 0);
    if (file == nullptr)
        return errno == ENOENT ? HistoryReadResult::Missing : HistoryReadResult::Unreadable;

    const int64_t start = BinFileTell(file);
    int version = 0;
    if (BinFileExpectText(file, kHistorySignatureV2) == 1) {
        version = 2;
    } else {
        BinFileSeek(file, start);
        file->damaged = false; // a short first probe says nothing about the second
        if (BinFileExpectText(file, kHistorySignatureV1) == 1) version = 1;
    }
    if (version == 0) {
        BinFileClose(file);
        return HistoryReadResult::Foreign;
    }

    bool whole = true;
    {
        HistoryVersionScope scope(version);
        uint32_t reserved = 0;
        if (BinFileReadU32(file, &reserved) == 4) {
            store->reserved = reserved;
            const int64_t before = BinFileTell(file);
            // The list grows by a few slots at a time, which would copy the
            // slot array thousands of times for a long history: grow it once.
            PtrList* list = store->list;
            const int32_t step = list->growthStep;
            uint16_t stored = 0;
            if (BinFileReadU16(file, &stored) == 2 && static_cast<int16_t>(stored) > step)
                list->growthStep = static_cast<int16_t>(stored) + 1;
            BinFileSeek(file, before);
            const int count = ListRead(list, file);
            list->growthStep = step;
            // The count itself missing, or negative: not a file we wrote.
            if (count < 0 || BinFileTell(file) < before + 2) whole = false;
            // An entry left out (a path too long to use) is kept in the damaged copy.
            if (count != static_cast<int16_t>(stored)) whole = false;
            unsigned char extra = 0;
            if (whole && BinFileRead(file, &extra, 1) != 0) whole = false;
        } else {
            whole = false;
        }
    }
    whole = whole && !file->damaged && !file->failed;
    whole = BinFileClose(file) && whole;

    JobStoreTrim(store);
    JobStoreRenumber(store);
    return whole ? HistoryReadResult::Whole : HistoryReadResult::Damaged;
}

bool HistoryLoad(JobStore* store, const std::string& path) {
    const HistoryReadResult result = HistoryRead(store, path);
    // A foreign file is kept aside too: the next save would replace it.
    bool damaged = result == HistoryReadResult::Damaged;
    if (result == HistoryReadResult::Foreign) {
        struct stat st {};
        damaged = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
    }
    if (damaged) KeepDamagedCopy(path);
    return result == HistoryReadResult::Whole || result == HistoryReadResult::Damaged;
}

bool HistorySave(JobStore* store, const std::string& path) {
    if (store == nullptr || store->list == nullptr) return false;
    // The count is stored in 16 bits.
    if (JobCount(store) > INT16_MAX) return false;
    return SaveAtomically(path, [store](BinFile* file) {
        BinFileWriteText(file, kHistorySignatureV2);
        BinFileWriteU32(file, store->reserved);
        ListWrite(store->list, file);
        return true;
    });
}

int HistoryWriteEntry(BinFile* file, void* element) {
    auto* job = static_cast<ConversionJob*>(element);
    if (file == nullptr || job == nullptr) return 0;
    int16_t expected = Pending;
    job->status.compare_exchange_strong(expected, Cancelled);

    const unsigned char zeros[kEntryReservedBytes] = {};
    BinFileWrite(file, zeros, kEntryReservedBytes);
    BinFileWriteU16(file, static_cast<uint16_t>(job->origin));
    BinFileWriteU16(file, static_cast<uint16_t>(job->profileId));
    BinFileWriteStr32(file, job->sourcePath);
    BinFileWriteStr32(file, job->displayName);
    BinFileWriteStr32(file, job->outputPath);
    BinFileWriteU16(file, static_cast<uint16_t>(job->status.load()));
    BinFileWriteU16(file, static_cast<uint16_t>(job->subStatus));
    BinFileWriteU64(file, job->outputSize);
    BinFileWriteU32(file, job->duration);
    return 1;
}

void* HistoryReadEntry(BinFile* file) {
    // Once an entry came out short, nothing after it is in step.
    if (file == nullptr || file->damaged || file->failed) return nullptr;

    unsigned char reserved[kEntryReservedBytes];
    uint16_t origin = 0, profileId = 0, status = 0, subStatus = 0;
    std::string sourcePath, displayName, outputPath;
    uint64_t outputSize = 0;
    uint32_t duration = 0;

    bool ok = BinFileRead(file, reserved, kEntryReservedBytes) == kEntryReservedBytes;
    ok = ok && BinFileReadU16(file, &origin) == 2;
    ok = ok && BinFileReadU16(file, &profileId) == 2;
    ok = ok && BinFileReadStr32(file, kStoredPathLimit, sourcePath);
    ok = ok && BinFileReadStr32(file, kDisplayNameLimit, displayName);
    ok = ok && BinFileReadStr32(file, kStoredPathLimit, outputPath);
    ok = ok && BinFileReadU16(file, &status) == 2;
    ok = ok && BinFileReadU16(file, &subStatus) == 2;
    if (ok && tHistoryVersion == 1) {
        uint32_t size32 = 0;
        ok = BinFileReadU32(file, &size32) == 4;
        // Version 1 kept a signed 32-bit size.
        outputSize = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(size32)));
    } else if (ok) {
        ok = BinFileReadU64(file, &outputSize) == 8;
    }
    ok = ok && BinFileReadU32(file, &duration) == 4;
    if (!ok) {
        file->damaged = true;
        return nullptr;
    }
    // Too long to be used: left out, and the reader sees the count fall short.
    if (sourcePath.size() > static_cast<size_t>(kPathMaxLen) ||
        outputPath.size() > static_cast<size_t>(kPathMaxLen))
        return nullptr;

    ConversionJob* job = JobCreate(std::string());
    job->sourcePath = std::move(sourcePath);
    job->origin = static_cast<int16_t>(origin);
    job->profileId = static_cast<int16_t>(profileId);
    job->displayName = std::move(displayName);
    job->outputPath = std::move(outputPath);
    const auto code = static_cast<int16_t>(status);
    job->status.store(code == Pending ? static_cast<int16_t>(Cancelled) : code);
    job->subStatus = static_cast<int16_t>(subStatus);
    job->outputSize = outputSize;
    job->duration = duration;
    return job;
}
