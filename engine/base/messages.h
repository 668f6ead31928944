#pragma once
// The engine's texts. Log lines and failure texts are upper-case English; a
// "{}" is filled with a name or a number.

namespace fornax {

// Compilation
inline constexpr const char* kMsgMaxDirectories = "MAXIMUM DIRECTORIES CAN BE {}";
inline constexpr const char* kMsgMaxFiles = "MAXIMUM FILES CAN BE {}";
inline constexpr const char* kMsgInvalidDestination = "INVALID DESTINATION PATH";
inline constexpr const char* kMsgNameDoesNotFit = "NAME TOO LONG FOR A DIRECTORY RECORD, NOT ADDED: {}";
inline constexpr const char* kMsgNameInUse = "NAME ALREADY USED BY ANOTHER ENTRY, NOT ADDED: {}";
inline constexpr const char* kMsgCantReadFolder = "CAN'T READ FOLDER \"{}\": {}";
inline constexpr const char* kMsgEmptyBootImage = "BOOT IMAGE \"{}\" IS EMPTY; THE IMAGE WILL NOT BOOT";
inline constexpr const char* kMsgFolderLoop = "FOLDER REACHED TWICE (A LOOP OR A SECOND MOUNT), NOT ADDED: {}";
inline constexpr const char* kMsgSystemFileSystem = "FOLDER ON A SYSTEM FILE SYSTEM ({}), NOT ADDED: {}";
inline constexpr const char* kMsgSpecialFile = "SPECIAL FILE ({}), NOT ADDED: {}";
inline constexpr const char* kMsgLinkToFolder = "LINK TO A FOLDER, NOT FOLLOWED: {}";
inline constexpr const char* kMsgBrokenContinuation =
    "ROCK RIDGE CONTINUATION AT SECTOR {} CANNOT BE READ; THE ENTRY IS TAKEN WITHOUT ITS ROCK RIDGE";
inline constexpr const char* kMsgCantReadLink = "CAN'T READ SYMBOLIC LINK, NOT ADDED: {}";
inline constexpr const char* kMsgScanCancelled = "SCAN CANCELLED, FOLDER ONLY PARTLY ADDED: {}";
inline constexpr const char* kMsgSourceNameReplaced = "NAME OF \"{}\" CANNOT BE WRITTEN AS IT IS, TAKEN AS \"{}\"";

// Writing and erasing
inline constexpr const char* kMsgAbortedByUser = "OPERATION ABORTED BY USER";
inline constexpr const char* kMsgWriterBusy = "WRITER BUSY/BUFFER FULL";
inline constexpr const char* kMsgWriterError = "WRITER ERROR";
inline constexpr const char* kMsgCantWriteFile = "CAN'T WRITE FILE \"{}\": {}";
inline constexpr const char* kMsgNothingToVerify =
    "the last burn kept nothing to compare with: a verify was not asked for before it";
inline constexpr const char* kMsgCantReadSource = "CAN'T READ FILE, NOT ADDED: {}";
inline constexpr const char* kMsgImageAmongSources = "The image file \"{}\" is among its own sources";
inline constexpr const char* kMsgStartingWrite = "STARTING WRITE PROCESS ON {} AT {}";
inline constexpr const char* kMsgTestWrite = "TEST/DUMMY WRITE";
inline constexpr const char* kMsgStartingErase = "STARTING ERASE PROCESS ON {} AT {}";
inline constexpr const char* kMsgEraseTooLong = "ERASE DID NOT FINISH WITHIN {} SECONDS";
inline constexpr const char* kMsgNoTestWrite = "A TEST WRITE IS NOT POSSIBLE ON {}: THE {} HAS NO TEST WRITE";
inline constexpr const char* kMsgTestWriteOpenSession =
    "THE DISC HOLDS A SESSION THAT WAS NOT CLOSED; A TEST WRITE CHANGES NOTHING ON THE DISC, SO CLOSE IT FIRST";
inline constexpr const char* kMsgClosingOpenSession =
    "THE DISC HOLDS A SESSION THAT WAS NOT CLOSED (AN INTERRUPTED OR FAILED WRITE); CLOSING IT FIRST";
inline constexpr const char* kMsgCloseFailed = "THE SESSION COULD NOT BE CLOSED [{}]";
inline constexpr const char* kMsgDiscClosed = "THE DISC IS CLOSED (FINALIZED): IT TAKES NO MORE SESSIONS";
inline constexpr const char* kMsgDiscNotBlank =
    "AN IMAGE FILE IS WRITTEN FROM THE START OF THE DISC, AND THIS DISC IS NOT BLANK";
inline constexpr const char* kMsgForeignData =
    "THE DISC HOLDS DATA THAT IS NO ISO 9660 SESSION; ERASE THE DISC TO WRITE ON IT";
inline constexpr const char* kMsgNoSpace =
    "NOT ENOUGH SPACE ON THE DISC: THE SESSION NEEDS {} SECTORS FROM SECTOR {}, AND {} ARE FREE THERE";
inline constexpr const char* kMsgStaysWritable = "{} CANNOT BE CLOSED FOR GOOD; THE DISC STAYS WRITABLE";
inline constexpr const char* kMsgCantReadDiscStart =
    "CAN'T READ THE START OF THE DISC [{}]; THE EARLIER SESSION STAYS THE ONE SHOWN";
inline constexpr const char* kMsgReadBackFailed = "THE NEW SESSION CANNOT BE READ BACK [{}]";
inline constexpr const char* kMsgSessionStillOpen = "THE SESSION WAS NOT CLOSED: THE DISC STILL SHOWS IT OPEN";
inline constexpr const char* kMsgLateAbort =
    "THE ABORT CAME AFTER ALL DATA WAS WRITTEN; THE SESSION WAS CLOSED AND IS COMPLETE";
inline constexpr const char* kMsgEraseNotStarted = "ERASE STOPPED BEFORE THE DRIVE BEGAN IT; THE DISC IS UNCHANGED";
inline constexpr const char* kMsgDriveNeverFinished = "WRITER ERROR [THE DRIVE DID NOT FINISH WRITING WITHIN {} SECONDS]";

// Existing discs
inline constexpr const char* kMsgImportingSession = "IMPORTING SESSION # {}";
inline constexpr const char* kMsgErrorImportingSession = "ERROR IMPORTING SESSION";
inline constexpr const char* kMsgIsoImageNotFound = "ERROR IMPORTING SESSION {} (ISO IMAGE NOT FOUND)";
inline constexpr const char* kMsgNameTooLongOnDisc = "ERROR IMPORTING SESSION, FILE NAME LENGTH EXCEEDS 120 CHARS";
inline constexpr const char* kMsgExtractingFile = "EXTRACTING FILE {} TO {}";
inline constexpr const char* kMsgUnsafeName = "NAME ON THE DISC CANNOT BE USED AS IT IS, TAKEN AS \"{}\"";
inline constexpr const char* kMsgDirectoryLoop = "DIRECTORY AT SECTOR {} WAS MET BEFORE (A LOOP), SKIPPED";
inline constexpr const char* kMsgDirectoryTooDeep = "DIRECTORY AT SECTOR {} LIES DEEPER THAN ANY DISC NESTS, SKIPPED";
inline constexpr const char* kMsgEntryOutsideDisc =
    "\"{}\" ({} BYTES FROM SECTOR {}) LIES BEYOND THE END OF THE DISC OR BETWEEN ITS SESSIONS, NOT IMPORTED";
inline constexpr const char* kMsgEntryInNewSession =
    "\"{}\" ({} BYTES FROM SECTOR {}) REACHES PAST SECTOR {}, WHERE THE NEW SESSION IS WRITTEN, NOT IMPORTED";
inline constexpr const char* kMsgDirectoryCut =
    "DIRECTORY \"{}\" CLAIMS {} BYTES FROM SECTOR {}, BUT ONLY {} SECTORS THERE ARE RECORDED; THE REST IS NOT READ";
inline constexpr const char* kMsgModeOfRecord =
    "\"{}\" HAS THE ROCK RIDGE MODE {:06o}, WHICH NAMES NO FILE TYPE ITS RECORD CAN HAVE; TAKEN AS {:06o}";
inline constexpr const char* kMsgDeviceWithoutNumber = "DEVICE \"{}\" HAS NO DEVICE NUMBER ON THE DISC, NOT IMPORTED";
inline constexpr const char* kMsgDeviceNumberUnwritable =
    "DEVICE \"{}\" HAS THE NUMBERS {},{}, WHICH A NEW SESSION CANNOT RECORD UNMISTAKABLY, NOT IMPORTED";
inline constexpr const char* kMsgSetuidCleared = "SETUID/SETGID BITS CLEARED ON {} IMPORTED FILE{}: {}";
inline constexpr const char* kMsgMalformedRecord = "MALFORMED DIRECTORY RECORD, REST OF THE SECTOR SKIPPED";
inline constexpr const char* kMsgBrokenExtents = "FILE \"{}\" IS TOLD IN EXTENTS THAT DO NOT FOLLOW EACH OTHER, SKIPPED";
inline constexpr const char* kMsgSessionPassedOver =
    "SESSION {} WAS CUT SHORT BY AN INTERRUPTED WRITE; AN EARLIER SESSION IS TAKEN AS THE LAST";
inline constexpr const char* kMsgSessionCutShort =
    "SESSION {} WAS CUT SHORT: ITS FILE SYSTEM REACHES SECTOR {} BUT ITS TRACK ENDS AT {}; FILES BEYOND ARE NOT ON THE DISC";
inline constexpr const char* kMsgFileWithoutExtent = "FILE \"{}\" HAS DATA BUT NO PLACE ON THE DISC, SKIPPED";

// Drives
inline constexpr const char* kMsgInvalidDevice = "INVALID DEVICE ID / NOT A CD OR DVD DRIVE";
inline constexpr const char* kMsgNextWritableAddress = "ERROR GETTING NEXT WRITABLE ADDRESS";

// Image production
inline constexpr const char* kMsgInternalError0004 = "INTERNAL ERROR 0004";
inline constexpr const char* kMsgCantOpenFile =
    "CAN'T OPEN FILE \"{}\" OR FILE IS IN USES BY OTHER SOFTWARE";
inline constexpr const char* kMsgCantCreateFile = "CAN'T CREATE FILE \"{}\"";
inline constexpr const char* kMsgCantReadFile = "CAN'T READ FILE \"{}\"; WHAT WAS WRITTEN DOES NOT HOLD IT WHOLE";
inline constexpr const char* kMsgSourceChanged =
    "FILE \"{}\" CHANGED SIZE SINCE IT WAS ADDED; WHAT WAS WRITTEN DOES NOT HOLD IT AS IT IS NOW";

}  // namespace fornax
