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

void SettingsLoad(AppSettings& settings, const std::string& path);
// Writes a temporary file beside path and renames it over path only when
// every byte was written. False when the save failed (old file untouched).
bool SettingsSave(const AppSettings& settings, const std::string& path);
bool HistoryLoad(JobStore* store, const std::string& path);
bool HistorySave(JobStore* store, const std::string& path);
int HistoryWriteEntry(BinFile* file, void* job);
void* HistoryReadEntry(BinFile* file);
