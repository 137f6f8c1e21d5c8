// The settings file and the history file.
#pragma once

#include <string>

#include "converter/profiles.h"

struct JobStore;
struct BinFile;

constexpr const char* kSettingsFileName = "settings.dat";
constexpr const char* kHistoryFileName = "history.dat";
constexpr const char* kSettingsSignature = "MOVENNA-SETTINGS-1";
constexpr const char* kHistorySignatureV1 = "MOVENNA-HISTORY-1";
constexpr const char* kHistorySignatureV2 = "MOVENNA-HISTORY-2";
constexpr const char* kDefaultDestSubfolder = "Converted";
// A history file that could not be read whole is kept under this suffix.
constexpr const char* kDamagedSuffix = ".damaged";

// Reads the file over the record. A missing or foreign file changes nothing;
// from where a damaged file ends, the fields keep what they held. A text too
// long for its field (folders: kPathMaxLen, codec tags: 48) reads as empty.
void SettingsLoad(AppSettings& settings, const std::string& path);
// Writes a temporary file beside path and renames it over path only when
// every byte was written. False when the save failed (old file untouched).
bool SettingsSave(const AppSettings& settings, const std::string& path);
// True when a history file of either version was read (entries read whole
// are kept, at most MaxJobs, newest last). A file that could not be read
// whole (cut short, foreign, trailing bytes) is first copied to
// path + kDamagedSuffix (or ".1", ".2", ... after it; never overwritten).
bool HistoryLoad(JobStore* store, const std::string& path);
// How far a history file could be read.
enum class HistoryReadResult { Missing, Whole, Damaged, Foreign, Unreadable };
// Reads as HistoryLoad does but writes nothing, not even the damaged copy.
// Missing: no file (the store is left empty). Damaged: the entries read
// whole were kept. Foreign: opened, but not a history file (empty, or
// another signature). Unreadable: could not be opened (errno tells why).
HistoryReadResult HistoryRead(JobStore* store, const std::string& path);
// Always writes version 2; atomic like SettingsSave.
bool HistorySave(JobStore* store, const std::string& path);
// The JobStore's element callbacks. The writer turns a Pending job into
// Cancelled first; the reader returns null when the entry is not whole.
int HistoryWriteEntry(BinFile* file, void* job);
void* HistoryReadEntry(BinFile* file);
