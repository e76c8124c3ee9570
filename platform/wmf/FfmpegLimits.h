#pragma once

// How far FFmpeg may go when it opens a file of ours: the readers and the tag editor's check of a
// written copy open files the same way.

namespace tonemirror::wmf {

// Containers that hold audio. Probing knows many more (images, playlists, network descriptions);
// those are refused rather than opened, so a file can never make FFmpeg fetch another one.
inline constexpr const char* kAudioContainers =
    "aac,ac3,aiff,amr,amrnb,amrwb,ape,asf,au,caf,dsf,dts,dtshd,eac3,flac,iff,loas,matroska,webm,"
    "mov,mp4,m4a,3gp,3g2,mj2,mp3,mpc,mpc8,ogg,oma,shn,tak,truehd,mlp,tta,voc,w64,wav,wv,xwma";
inline constexpr const char* kProbeSize = "5000000";
inline constexpr const char* kAnalyzeDuration = "5000000"; // microseconds
inline constexpr const char* kMaxStreams = "64";

} // namespace tonemirror::wmf
