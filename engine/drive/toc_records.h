#pragma once
// Answers to READ TOC that tell where sessions lie on a drive without track
// information: the session information (format 1) and the track entries of
// the table of contents (format 0). Pure functions over the answer bytes.

#include <cstdint>

namespace fornax {

inline constexpr uint8_t kLeadOutTrack = 0xAA;

// READ TOC format 1: the last complete session and where its first track
// starts. Some drives leave the track number 0 (not told).
struct TSessionInfo {
  uint8_t FirstSession = 0;
  uint8_t LastSession = 0;
  uint8_t FirstTrackOfLast = 0;
  uint32_t Start = 0;
};

// Whether an answer to READ TOC format 1 really is the session information.
// Some ATAPI drives ignore the format in byte 2 and answer with the table of
// contents (format 0) and good status; that answer says 2 + 8 bytes per
// entry after its length field where the session information says exactly
// 10, and its only entry is the lead-out (AAh) when it is that short.
bool IsSessionInfo(const uint8_t* answer);
TSessionInfo ParseSessionInfo(const uint8_t* answer);

// The start (LBA) of a track, or of the lead-out (AAh), in an answer to READ
// TOC format 0 of `length` bytes. False when the answer holds no entry for it
// within its own length and the bytes received.
bool TocTrackStart(const uint8_t* answer, uint32_t length, uint8_t track, uint32_t& start);

// The track that begins a session before the last one (the session
// information tells where the last one starts): the first track of the disc
// for the first session, and track first + session - 1 for the others when
// every session holds one track (as the engine writes them). False for the
// last session or one outside, or when the tracks per session cannot be told.
bool TrackOfEarlierSession(const TSessionInfo& info, uint8_t firstTrack, int session, uint8_t& track);

}  // namespace fornax
