// The conversion command lines that the program builds for each of its 17
// profiles with the profile's own values, what movenna-convert must turn
// them into, and what the output must then be.
#pragma once

struct ProfileLine {
    int id;
    const char* ext;
    bool audioOnly;         // the program writes " -vn " before "-i"
    const char* options;    // after "-brind N", before the output path
    const char* ffmpeg;     // translated options between the input and the output
    const char* container;  // libavformat's demuxer name for the output
    const char* videoCodec; // "" for no video stream
    const char* videoTag;   // FourCC, "" when not checked
    const char* frameRate;  // "" when not checked
    int width;              // 0: the source's size
    int height;
    const char* audioCodec;
    int channels;
    int sampleRate;
};

constexpr const char* kMp4Demuxer = "mov,mp4,m4a,3gp,3g2,mj2";

constexpr ProfileLine kProfileLines[] = {
    {.id = 500, .ext = "mp4", .audioOnly = false,
     .options = "-vcodec mpeg4 -acodec libfaac -s 320x240 -r 20000/1001 -b 1500kb -ab 128.0kb -ac 2 -ar 44100 -vol 256",
     .ffmpeg = "-c:v mpeg4 -s 320x240 -r 20000/1001 -b:v 1500k -c:a aac -b:a 128.0k -ac 2 -ar 44100 -f mp4",
     .container = kMp4Demuxer, .videoCodec = "mpeg4", .videoTag = "", .frameRate = "",
     .width = 320, .height = 240, .audioCodec = "aac", .channels = 2, .sampleRate = 44100},
    {.id = 510, .ext = "mp4", .audioOnly = false,
     .options = "-vcodec mpeg4 -acodec libfaac -s 320x180 -r 20000/1001 -b 1500kb -ab 128.0kb -ac 2 -ar 44100 -vol 256",
     .ffmpeg = "-c:v mpeg4 -s 320x180 -r 20000/1001 -b:v 1500k -c:a aac -b:a 128.0k -ac 2 -ar 44100 -f mp4",
     .container = kMp4Demuxer, .videoCodec = "mpeg4", .videoTag = "", .frameRate = "",
     .width = 320, .height = 180, .audioCodec = "aac", .channels = 2, .sampleRate = 44100},
    {.id = 520, .ext = "mp4", .audioOnly = false,
     .options = "-vcodec mpeg4 -acodec libfaac -s 320x240 -r 20000/1001 -b 512kb -ab 128.0kb -ac 2 -ar 44100 -vol 256",
     .ffmpeg = "-c:v mpeg4 -s 320x240 -r 20000/1001 -b:v 512k -c:a aac -b:a 128.0k -ac 2 -ar 44100 -f mp4",
     .container = kMp4Demuxer, .videoCodec = "mpeg4", .videoTag = "", .frameRate = "",
     .width = 320, .height = 240, .audioCodec = "aac", .channels = 2, .sampleRate = 44100},
    {.id = 530, .ext = "mp4", .audioOnly = false,
     .options = "-vcodec mpeg4 -acodec libfaac -s 320x180 -r 20000/1001 -b 512kb -ab 128.0kb -ac 2 -ar 44100 -vol 256",
     .ffmpeg = "-c:v mpeg4 -s 320x180 -r 20000/1001 -b:v 512k -c:a aac -b:a 128.0k -ac 2 -ar 44100 -f mp4",
     .container = kMp4Demuxer, .videoCodec = "mpeg4", .videoTag = "", .frameRate = "",
     .width = 320, .height = 180, .audioCodec = "aac", .channels = 2, .sampleRate = 44100},
    {.id = 540, .ext = "mp4", .audioOnly = false,
     .options = "-vcodec mpeg4 -acodec libfaac -s 320x240 -r 29975/1001 -b 512kb -ab 128.0kb -ac 2 -ar 44100 -vol 256",
     .ffmpeg = "-c:v mpeg4 -s 320x240 -r 29975/1001 -b:v 512k -c:a aac -b:a 128.0k -ac 2 -ar 44100 -f mp4",
     .container = kMp4Demuxer, .videoCodec = "mpeg4", .videoTag = "", .frameRate = "",
     .width = 320, .height = 240, .audioCodec = "aac", .channels = 2, .sampleRate = 44100},
    {.id = 700, .ext = "mp4", .audioOnly = false,
     .options = "-vcodec mpeg4 -acodec libfaac -r 29975/1001 -b 1200kb -ab 128.0kb -ac 2 -ar 48000 -vol 256",
     .ffmpeg = "-c:v mpeg4 -r 29975/1001 -b:v 1200k -c:a aac -b:a 128.0k -ac 2 -ar 48000 -f mp4",
     .container = kMp4Demuxer, .videoCodec = "mpeg4", .videoTag = "", .frameRate = "",
     .width = 0, .height = 0, .audioCodec = "aac", .channels = 2, .sampleRate = 48000},
    {.id = 800, .ext = "mpg", .audioOnly = false,
     .options = "-vcodec mpeg1video -acodec libmp3lame -r 29975/1001 -b 1150kb -ab 224.0kb -ac 2 -ar 44100 -vol 256",
     .ffmpeg = "-c:v mpeg1video -r 30000/1001 -b:v 1150k -c:a libmp3lame -b:a 224.0k -ac 2 -ar 44100 -f mpeg",
     .container = "mpeg", .videoCodec = "mpeg1video", .videoTag = "", .frameRate = "30000/1001",
     .width = 0, .height = 0, .audioCodec = "mp3", .channels = 2, .sampleRate = 44100},
    {.id = 810, .ext = "mpg", .audioOnly = false,
     .options = "-vcodec mpeg2video -acodec libmp3lame -r 29975/1001 -b 4000kb -ab 224.0kb -ac 2 -ar 48000 -vol 256",
     .ffmpeg = "-c:v mpeg2video -r 30000/1001 -b:v 4000k -c:a libmp3lame -b:a 224.0k -ac 2 -ar 48000 -f mpeg",
     .container = "mpeg", .videoCodec = "mpeg2video", .videoTag = "", .frameRate = "30000/1001",
     .width = 0, .height = 0, .audioCodec = "mp3", .channels = 2, .sampleRate = 48000},
    {.id = 900, .ext = "wmv", .audioOnly = false,
     .options = "-vcodec wmv1 -acodec libmp3lame -r 20000/1001 -b 512kb -ab 192.0kb -ac 2 -ar 48000 -vol 256",
     .ffmpeg = "-c:v wmv1 -r 20000/1001 -b:v 512k -c:a libmp3lame -b:a 192.0k -ac 2 -ar 48000 -f asf",
     .container = "asf", .videoCodec = "wmv1", .videoTag = "", .frameRate = "",
     .width = 0, .height = 0, .audioCodec = "mp3", .channels = 2, .sampleRate = 48000},
    {.id = 1000, .ext = "avi", .audioOnly = false,
     .options = "-vcodec msmpeg4v2 -acodec libmp3lame -s 320x240 -r 25000/1001 -b 4000kb -ab 128.0kb -ac 2 -ar 44100 -vol 256",
     .ffmpeg = "-c:v msmpeg4v2 -s 320x240 -r 25000/1001 -b:v 4000k -c:a libmp3lame -b:a 128.0k -ac 2 -ar 44100 -f avi",
     .container = "avi", .videoCodec = "msmpeg4v2", .videoTag = "", .frameRate = "",
     .width = 320, .height = 240, .audioCodec = "mp3", .channels = 2, .sampleRate = 44100},
    {.id = 1010, .ext = "avi", .audioOnly = false,
     .options = "-vcodec mpeg4 -vtag divx -acodec libmp3lame -r 29975/1001 -b 4000kb -ab 128.0kb -ac 2 -ar 48000 -vol 256",
     .ffmpeg = "-c:v mpeg4 -tag:v DIVX -r 29975/1001 -b:v 4000k -c:a libmp3lame -b:a 128.0k -ac 2 -ar 48000 -f avi",
     .container = "avi", .videoCodec = "mpeg4", .videoTag = "DIVX", .frameRate = "",
     .width = 0, .height = 0, .audioCodec = "mp3", .channels = 2, .sampleRate = 48000},
    {.id = 1020, .ext = "avi", .audioOnly = false,
     .options = "-vcodec mpeg4 -vtag xvid -acodec libmp3lame -r 29975/1001 -b 4000kb -ab 128.0kb -ac 2 -ar 48000 -vol 256",
     .ffmpeg = "-c:v mpeg4 -tag:v XVID -r 29975/1001 -b:v 4000k -c:a libmp3lame -b:a 128.0k -ac 2 -ar 48000 -f avi",
     .container = "avi", .videoCodec = "mpeg4", .videoTag = "XVID", .frameRate = "",
     .width = 0, .height = 0, .audioCodec = "mp3", .channels = 2, .sampleRate = 48000},
    {.id = 5000, .ext = "mp3", .audioOnly = true,
     .options = "-acodec libmp3lame -r 20000/1001 -sameq -ab 192.0kb -ac 2 -ar 48000 -vol 256",
     .ffmpeg = "-vn -c:a libmp3lame -b:a 192.0k -ac 2 -ar 48000 -f mp3",
     .container = "mp3", .videoCodec = "", .videoTag = "", .frameRate = "",
     .width = 0, .height = 0, .audioCodec = "mp3", .channels = 2, .sampleRate = 48000},
    {.id = 5010, .ext = "wav", .audioOnly = true,
     .options = "-acodec pcm_s16le -r 20000/1001 -sameq -ab 128.0kb -ac 2 -ar 44100 -vol 256",
     .ffmpeg = "-vn -c:a pcm_s16le -b:a 128.0k -ac 2 -ar 44100 -f wav",
     .container = "wav", .videoCodec = "", .videoTag = "", .frameRate = "",
     .width = 0, .height = 0, .audioCodec = "pcm_s16le", .channels = 2, .sampleRate = 44100},
    {.id = 5020, .ext = "wma", .audioOnly = true,
     .options = "-acodec wmav1 -r 20000/1001 -sameq -ab 128.0kb -ac 2 -ar 44100 -vol 256",
     .ffmpeg = "-vn -c:a wmav1 -b:a 128.0k -ac 2 -ar 44100 -f asf",
     .container = "asf", .videoCodec = "", .videoTag = "", .frameRate = "",
     .width = 0, .height = 0, .audioCodec = "wmav1", .channels = 2, .sampleRate = 44100},
    {.id = 5030, .ext = "mp2", .audioOnly = true,
     .options = "-acodec mp2 -r 20000/1001 -sameq -ab 128.0kb -ac 2 -ar 44100 -vol 256",
     .ffmpeg = "-vn -c:a mp2 -b:a 128.0k -ac 2 -ar 44100 -f mp2",
     .container = "mp3", .videoCodec = "", .videoTag = "", .frameRate = "",
     .width = 0, .height = 0, .audioCodec = "mp2", .channels = 2, .sampleRate = 44100},
    {.id = 5040, .ext = "m4a", .audioOnly = true,
     .options = "-acodec libfaac -r 20000/1001 -sameq -ab 128.0kb -ac 2 -ar 44100 -vol 256",
     .ffmpeg = "-vn -c:a aac -b:a 128.0k -ac 2 -ar 44100 -f ipod",
     .container = kMp4Demuxer, .videoCodec = "", .videoTag = "", .frameRate = "",
     .width = 0, .height = 0, .audioCodec = "aac", .channels = 2, .sampleRate = 44100},
};
