// SPDX-License-Identifier: MIT
// The texts torvikctl writes of its own (notes, summaries, progress lines,
// refusals, hints and its help) in the three languages of the window, from a
// table of their own: the window's catalogue keeps only the window's texts,
// and the status texts of the operations still come from it.
//
// A text may hold places {1} to {9} for values; every language of a row
// holds the same places. A refusal or a failure found below the session
// (a template file, a path) is kept as a Said, its key and values, and
// rendered in the language in force where it is written.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace torvik::cli {

enum class T : int {
    // ---- the command line ----
    kSeeHelp,
    kNeedsValue,
    kWholeNumber,
    kFromTo,
    kOneOf,
    kUnknownSettings,
    kNoParity,
    kEmptySlotList,
    kRangeBackwards,
    kExpected,
    kToSlotOne,
    kTraceNeedsFile,
    kSettingsNeedsFile,
    kRs485Delays,
    kUnknownOption,
    kCommandUnknownOption,
    kUnknownCommand,
    kNoCommand,
    kReadSeconds,
    kWhatId,
    kWhatFacility,
    kWhatSlot,
    kWhatTime,
    kWhatASlot,
    kWhatInterface,
    kWhatWiegand,
    kWhatRs485,
    kWhatCardType,
    kPortRefused,
    kPortBad,
    kSettingsDirMissing,
    kTraceRefused,
    kTraceDirMissing,
    kTraceLink,
    kTraceDirectory,
    kTraceFifo,
    kTraceKind,
    kTraceNotWritable,
    // ---- the help ----
    kHelpUsage,
    kHelpIntro,
    kHelpCommands,
    kHelpOptions,
    kHelpOptionList,
    kHelpExit,
    kHelpCommandUsage,
    // ---- kinds of files ----
    kKindLink,
    kKindFifo,
    kKindDevice,
    kKindDirectory,
    kKindSocket,
    kKindOther,
    // ---- checks of the whole call ----
    kNothingSent,
    kRawText,
    kStandAloneFirst,
    kStandAloneAfterFactory,
    kDirMissing,
    kDirNotWritable,
    kNotAFile,
    kExists,
    kIncompleteLeft,
    kCannotRead,
    kTooLarge,
    kHoldsNoSlot,
    kNoSlot,
    kNoSlotAndMore,
    kToSlotNeedsOne,
    kSlotEmpty,
    kSlotFailed,
    kIncompleteFile,
    // ---- a template file's damage ----
    kNotTemplate,
    kNotTemplateBecause,
    kNoFormatMember,
    kNoVersion,
    kNewerVersion,
    kUnknownEncoding,
    kToolOrDate,
    kReaderFields,
    kCompleteNotBool,
    kNoSlotList,
    kNoSlotNumber,
    kSlotDamaged,
    kAppearsTwice,
    kNoStatus,
    kUnknownStatus,
    kNotThreePieces,
    kPieceTooLongBytes,
    kPieceNotLatin1,
    kNoChecksum,
    kChecksumMismatch,
    kEmptyWithTemplate,
    kFailedWithPieces,
    kNoFileChecksum,
    kFileChecksumMismatch,
    // ---- writing files ----
    kCannotWrite,
    kAppeared,
    // ---- notes ----
    kStopAfterSlot,
    kStopAfterOperation,
    kStopAfterWrite,
    kStoppedNotRun,
    kNotRunAfter,
    kSimulatorEnded,
    kPieceTrimmed,
    kErrorPrefix,
    kUnexpectedError,
    kEndedByError,
    kNowTalksAt,
    kNextRunSweep,
    kScanOnlyStored,
    // ---- texts of objects that did not run ----
    kNotRunStopped,
    kNotRunAfterFailure,
    kNotRunRefused,
    kNotRunSimulator,
    // ---- progress ----
    kProgressDefault,
    kProgressSlots,
    kProgressReading,
    kSeconds,
    kMinutesSeconds,
    kHoursMinutes,
    kReadingOne,
    kReadingMany,
    // ---- slots ----
    kSlotRead,
    kSlotEmptyLine,
    kSlotFailedLine,
    kSlotWritten,
    kSlotMovedWritten,
    kSlotSkippedEmpty,
    kSlotSkippedFailed,
    kReasonNoReader,
    kReasonPortNotOpen,
    kReasonNoPiece,
    kReasonPiece,
    kReasonNotTaken,
    kReasonPieceTooLong,
    kReasonError,
    kFaultNone,
    kFaultNothing,
    kFaultCutOff,
    kFaultBadCheck,
    kFaultMalformed,
    kFaultNeverQuiet,
    // ---- summaries ----
    kBackupSummary,
    kBackupInto,
    kBackupStopped,
    kBackupGaveUp,
    kBackupReaderGone,
    kBackupFailedSlots,
    kBackupKeptIn,
    kBackupLeftAlone,
    kBackupNothingRead,
    kRestoreSummary,
    kRestoreSlotFailed,
    kRestoreStopped,
    kTemplateInto,
    // ---- the scan's account: what the serial device says, in words ----
    kCauseNoSuchDevice,
    kCausePermission,
    kCauseBusy,
    kCauseHeldByAnother,
    kCauseHeldBy,
    kCauseVanished,
    kCauseNotSerial,
    kCauseSkipped,
    kCauseSystemConsole,
    kCauseLoginTerminal,
    kCauseAlreadyOpen,
    kCount
};

struct Said;

// A value of a text: words as they stand (a name, a number), or a text of
// the table rendered in the same language.
struct SaidValue {
    SaidValue(std::string t) : text(std::move(t)) {}
    SaidValue(const char* t) : text(t) {}
    SaidValue(const Said& s);
    std::string text;
    std::shared_ptr<const Said> said;
};

// A text kept as its key and values, rendered where it is written.
struct Said {
    T key = T::kCount;
    std::vector<SaidValue> values;
    Said() = default;
    Said(T k, std::vector<SaidValue> v = {}) : key(k), values(std::move(v)) {}
    bool empty() const { return key == T::kCount; }
};

// The text of a key in a language (0 English, 1 Simplified, 2 Traditional
// Chinese; anything else English) with its places filled.
std::string Tr(int language, T key, const std::vector<std::string>& values = {});
std::string Tr(int language, const Said& said);
// A count with the word that goes with it: "1 reading", "2 readings".
std::string Count(int language, long n, T one, T many);
// A time for the progress line: "42 s", "3 min 05 s", "1 h 02 min".
std::string Duration(int language, uint32_t ms);

// The help of one command (without its synopsis line); empty for an unknown one.
std::string CommandHelpText(int language, const std::string& command);

// For the table's own test: every row in every language, by key.
struct TextRow {
    T key;
    const char* text[3];
};
const std::vector<TextRow>& AllTexts();
// The help rows (command name, three languages).
struct HelpRow {
    const char* command;
    const char* text[3];
};
const std::vector<HelpRow>& AllHelp();

}  // namespace torvik::cli
