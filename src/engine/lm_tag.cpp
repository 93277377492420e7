#include "engine/lm_tag.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/lm_tag_text.h"

const char *const LMGenreNames[148] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop",
    "Jazz", "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap",
    "Reggae", "Rock", "Techno", "Industrial", "Alternative", "Ska", "Death Metal", "Pranks",
    "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance",
    "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise",
    "Alternative Rock", "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop",
    "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial", "Electronic",
    "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40",
    "Christian Rap", "Pop/Funk", "Jungle", "Native US", "Cabaret", "New Wave", "Psychadelic",
    "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka",
    "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk", "Folk-Rock", "National Folk",
    "Swing", "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic", "Bluegrass", "Avantgarde",
    "Gothic Rock", "Progressive Rock", "Psychedelic Rock", "Symphonic Rock", "Slow Rock",
    "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera",
    "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus", "Porn Groove", "Satire",
    "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad", "Power Ballad", "Rhythmic Soul",
    "Freestyle", "Duet", "Punk Rock", "Drum Solo", "Acapella", "Euro-House", "Dance Hall",
    "Goa", "Drum & Bass", "Club - House", "Hardcore", "Terror", "Indie", "BritPop",
    "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal", "Black Metal",
    "Crossover", "Contemporary Christian", "Christian Rock", "Merengue", "Salsa",
    "Thrash Metal", "Anime", "JPop", "Synthpop",
};

static uint32_t Id3Synchsafe(const unsigned char *p)
{
    return ((uint32_t)(p[0] & 0x7F) << 21) | ((uint32_t)(p[1] & 0x7F) << 14) |
           ((uint32_t)(p[2] & 0x7F) << 7) | (uint32_t)(p[3] & 0x7F);
}

static uint32_t Id3U32(const unsigned char *p)
{
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}

// Undoes unsynchronisation (every FF 00 back to FF) from `p` into `out`, which has room
// for `n` bytes; the length of the result.
static size_t Id3Resync(const unsigned char *p, size_t n, unsigned char *out)
{
    size_t len = 0;
    for (size_t i = 0; i < n; i++) {
        out[len++] = p[i];
        if (p[i] == 0xFF && i + 1 < n && p[i + 1] == 0x00)
            i++;
    }
    return len;
}

// The frames of one tag: its bytes after the header (resynchronised when the whole tag
// was unsynchronised) and how to read them.
struct Id3Walk {
    const unsigned char *body;
    size_t size;
    int version;
    bool unsync;   // version 4: every frame was unsynchronised
    size_t comment_len, comment_cap;   // the comment built so far
};

static bool Id3IdChar(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Where a frame walk that arrives at `pos` stands: past the tag (lost), at its end, in
// the padding (a 0 byte), or at a frame header whose id is made of frame-id characters
// and whose size, read either way, fits in the tag.
enum Id3Landing { Id3Lost, Id3AtEnd, Id3InPadding, Id3AtFrame };

static Id3Landing Id3LandsAt(const Id3Walk *w, uint64_t pos)
{
    if (pos == w->size)
        return Id3AtEnd;
    if (pos > w->size)
        return Id3Lost;
    if (w->body[pos] == 0)
        return Id3InPadding;
    if (w->size - pos < 10)
        return Id3Lost;
    const unsigned char *h = w->body + pos;
    if (!Id3IdChar(h[0]) || !Id3IdChar(h[1]) || !Id3IdChar(h[2]) || !Id3IdChar(h[3]))
        return Id3Lost;
    const uint64_t room = w->size - pos - 10;
    return Id3U32(h + 4) <= room || Id3Synchsafe(h + 4) <= room ? Id3AtFrame : Id3Lost;
}

// Version 4 frame sizes are synchsafe. Some writers store plain integers instead; the two
// readings differ from 128 bytes on, and the plain one is taken when the bytes cannot be
// synchsafe, or when the plain reading lands on the next frame while the synchsafe one
// is lost or lands on a 0 byte (inside a picture, most often, rather than in padding).
static uint32_t Id3FrameSizeV4(const Id3Walk *w, size_t pos)
{
    const unsigned char *s = w->body + pos + 4;
    const uint32_t plain = Id3U32(s);
    if ((s[0] | s[1] | s[2] | s[3]) & 0x80)
        return plain;
    const uint32_t safe = Id3Synchsafe(s);
    if (safe == plain)
        return safe;
    const Id3Landing bySafe = Id3LandsAt(w, (uint64_t)pos + 10 + safe);
    const Id3Landing byPlain = Id3LandsAt(w, (uint64_t)pos + 10 + plain);
    if ((bySafe == Id3Lost && byPlain != Id3Lost) || (bySafe == Id3InPadding && byPlain == Id3AtFrame))
        return plain;
    return safe;
}

static bool Id3IsFrame(const unsigned char *id, int version, const char *v34, const char *v2)
{
    return version == 2 ? memcmp(id, v2, 3) == 0 : memcmp(id, v34, 4) == 0;
}

// A text frame: the encoding byte, then the text. Size 0 or 1 gives no text.
static char *Id3FrameText(const unsigned char *data, size_t size)
{
    if (size < 2)
        return NULL;
    return LMId3DecodeText(data[0], data + 1, size - 1, NULL);
}

static void Id3SetOnce(char **field, const unsigned char *data, size_t size)
{
    if (*field == NULL)
        *field = Id3FrameText(data, size);
}

static void Id3SetNumber(int32_t *field, const unsigned char *data, size_t size)
{
    char *text = Id3FrameText(data, size);
    *field = LMId3Number(text);
    free(text);
}

// Appends "description=text" (or the one that is not empty) to the comment, entries of
// several frames joined by ";\n". The text grows by doubling, so that a tag of many small
// comment frames costs no more than one of a few large ones.
static void Id3AddComment(LMTag *tag, Id3Walk *w, const unsigned char *data, size_t size)
{
    if (size < 4)
        return;
    const int encoding = data[0];
    const unsigned char *p = data + 4;
    size_t n = size - 4, used = 0;
    char *description = LMId3DecodeText(encoding, p, n, &used);
    char *text = LMId3DecodeText(encoding, p + used, n - used, NULL);
    const size_t dlen = description ? strlen(description) : 0;
    const size_t tlen = text ? strlen(text) : 0;
    const size_t need = w->comment_len + 2 + dlen + 1 + tlen + 1;
    if (dlen + tlen > 0 && need > w->comment_cap) {
        size_t cap = w->comment_cap ? w->comment_cap : 64;
        while (cap < need)
            cap *= 2;
        char *grown = (char *)realloc(tag->comment, cap);
        if (grown != NULL) {
            tag->comment = grown;
            w->comment_cap = cap;
        }
    }
    if (dlen + tlen > 0 && need <= w->comment_cap) {
        char *q = tag->comment + w->comment_len;
        if (w->comment_len > 0) {
            memcpy(q, ";\n", 2);
            q += 2;
        }
        memcpy(q, description ? description : "", dlen);
        q += dlen;
        if (dlen > 0 && tlen > 0)
            *q++ = '=';
        memcpy(q, text ? text : "", tlen);
        q += tlen;
        *q = '\0';
        w->comment_len = (size_t)(q - tag->comment);
    }
    free(description);
    free(text);
}

// APIC: encoding, MIME type (0-terminated), picture type, description, data.
// PIC: encoding, 3-character image format, picture type, description, data.
// Only the front cover (type 3) is taken, and only the first one.
static void Id3SetPicture(LMTag *tag, const unsigned char *data, size_t size, int version)
{
    if (tag->picture != NULL || size < 1)
        return;
    const int encoding = data[0];
    size_t pos;
    if (version == 2) {
        pos = 4;
    } else {
        const unsigned char *mimeEnd = (const unsigned char *)memchr(data + 1, 0, size - 1);
        if (mimeEnd == NULL || mimeEnd == data + 1)
            return;
        pos = (size_t)(mimeEnd - data) + 1;
    }
    if (pos >= size || data[pos] != 3)
        return;
    pos++;
    size_t used = 0;
    free(LMId3DecodeText(encoding, data + pos, size - pos, &used));
    pos += used;
    if (pos >= size)
        return;
    const size_t n = size - pos;
    if (n > INT32_MAX)
        return;
    tag->picture = (unsigned char *)malloc(n);
    if (tag->picture == NULL)
        return;
    memcpy(tag->picture, data + pos, n);
    tag->picture_size = (int32_t)n;
}

static void Id3ReadFrame(LMTag *tag, Id3Walk *w, const unsigned char *id,
                         const unsigned char *data, size_t size)
{
    const int version = w->version;
    if (Id3IsFrame(id, version, "TIT2", "TT2")) {
        Id3SetOnce(&tag->title, data, size);
    } else if (Id3IsFrame(id, version, "TPE1", "TP1")) {
        Id3SetOnce(&tag->artist, data, size);
    } else if (Id3IsFrame(id, version, "TALB", "TAL")) {
        Id3SetOnce(&tag->album, data, size);
    } else if (Id3IsFrame(id, version, "TCON", "TCO")) {
        if (tag->genre == NULL) {
            char *text = Id3FrameText(data, size);
            tag->genre = LMId3GenreFromText(text);
            free(text);
        }
    } else if (Id3IsFrame(id, version, "TYER", "TYE") ||
               (version > 2 && memcmp(id, "TDRC", 4) == 0)) {
        // TDRC took the place of TYER in version 4 and starts with the year.
        Id3SetNumber(&tag->year, data, size);
    } else if (Id3IsFrame(id, version, "TRCK", "TRK")) {
        Id3SetNumber(&tag->track, data, size);
    } else if (Id3IsFrame(id, version, "COMM", "COM")) {
        Id3AddComment(tag, w, data, size);
    } else if (Id3IsFrame(id, version, "APIC", "PIC")) {
        Id3SetPicture(tag, data, size, version);
    }
}

static bool Id3Interesting(const unsigned char *id, int version)
{
    static const char *const v34[] = {"TIT2", "TPE1", "TALB", "TCON", "TYER", "TDRC",
                                      "TRCK", "COMM", "APIC"};
    static const char *const v2[] = {"TT2", "TP1", "TAL", "TCO", "TYE", "TRK", "COM", "PIC"};
    if (version == 2) {
        for (const char *name : v2)
            if (memcmp(id, name, 3) == 0)
                return true;
        return false;
    }
    for (const char *name : v34)
        if (memcmp(id, name, 4) == 0)
            return true;
    return false;
}

// Frame flags (second byte) that add bytes in front of the data or make it unreadable.
enum : unsigned {
    Id3V3Compressed = 0x80, Id3V3Encrypted = 0x40, Id3V3Grouped = 0x20,
    Id3V4Grouped = 0x40, Id3V4Compressed = 0x08, Id3V4Encrypted = 0x04,
    Id3V4Unsynchronised = 0x02, Id3V4DataLength = 0x01,
};

// Strips what the frame flags put around the data, resynchronising into `scratch` when
// needed (the caller frees it), and hands the data to the frame reader. Compressed and
// encrypted frames are skipped: their data cannot be read as it stands.
static void Id3ReadFlaggedFrame(LMTag *tag, Id3Walk *w, const unsigned char *id,
                                unsigned flags, const unsigned char *data, size_t size)
{
    size_t skip = 0;
    unsigned char *scratch = NULL;
    if (w->version == 3) {
        if (flags & (Id3V3Compressed | Id3V3Encrypted))
            return;
        if (flags & Id3V3Grouped)
            skip = 1;
    } else if (w->version == 4) {
        if (flags & (Id3V4Compressed | Id3V4Encrypted))
            return;
        if ((flags & Id3V4Unsynchronised) || w->unsync) {
            scratch = (unsigned char *)malloc(size ? size : 1);
            if (scratch == NULL)
                return;
            size = Id3Resync(data, size, scratch);
            data = scratch;
        }
        if (flags & Id3V4Grouped)
            skip += 1;
        if (flags & Id3V4DataLength)
            skip += 4;
    }
    if (skip <= size)
        Id3ReadFrame(tag, w, id, data + skip, size - skip);
    free(scratch);
}

static void Id3WalkFrames(LMTag *tag, Id3Walk *w, size_t pos)
{
    const size_t headerSize = w->version == 2 ? 6 : 10;
    while (pos <= w->size && w->size - pos >= headerSize) {
        const unsigned char *h = w->body + pos;
        uint32_t size;
        unsigned flags = 0;
        if (w->version == 2) {
            size = ((uint32_t)h[3] << 16) | ((uint32_t)h[4] << 8) | h[5];
        } else {
            size = w->version == 4 ? Id3FrameSizeV4(w, pos) : Id3U32(h + 4);
            flags = h[9];
        }
        if (size == 0 || size > w->size - pos - headerSize)
            break;
        if (Id3Interesting(h, w->version))
            Id3ReadFlaggedFrame(tag, w, h, flags, h + headerSize, size);
        pos += headerSize + size;
    }
}

int LMTagParseId3v2(LMTag *tag, const void *block, size_t length)
{
    LMTagClear(tag);
    const unsigned char *b = (const unsigned char *)block;
    if (!LM_CHECK_TEXT(length >= 14, "size >= 14") ||
        !LM_CHECK_TEXT(memcmp(b, "ID3", 3) == 0, "strncmp(hdr->id, \"ID3\", 3) == 0"))
        return 0;
    const int version = b[3];
    const unsigned flags = b[5];
    const uint64_t size = Id3Synchsafe(b + 6);
    if (version == 4) {
        const uint64_t deduction = (flags & 0x10) ? 20 : 10;
        if (!LM_CHECK_TEXT(size + deduction == length, "hdr->size == size - deduction"))
            return 0;
    } else if (version == 3 || version == 2) {
        if (!LM_CHECK_TEXT(size + 10 == length, "hdr->size == size - 10"))
            return 0;
    } else {
        LM_CHECK_TEXT(false, "0");
        return 0;
    }

    Id3Walk w = {b + 10, (size_t)size, version, false, 0, 0};
    unsigned char *resynced = NULL;
    if (flags & 0x80) {
        // Versions 2 and 3 unsynchronise the whole tag, frame sizes counting the bytes
        // after resynchronisation; version 4 does it frame by frame.
        if (version == 4) {
            w.unsync = true;
        } else {
            resynced = (unsigned char *)malloc(w.size ? w.size : 1);
            if (resynced == NULL)
                return 1;
            w.size = Id3Resync(w.body, w.size, resynced);
            w.body = resynced;
        }
    }

    size_t start = 0;
    if ((flags & 0x40) && version != 2 && w.size >= 4) {
        if (version == 3)
            start = 4 + (size_t)Id3U32(w.body);
        else
            start = Id3Synchsafe(w.body);
    }
    Id3WalkFrames(tag, &w, start);
    free(resynced);
    return 1;
}

int LMTagParseId3v1(LMTag *tag, const void *block, size_t length)
{
    LMTagClear(tag);
    const unsigned char *b = (const unsigned char *)block;
    if (length != 128 || memcmp(b, "TAG", 3) != 0)
        return 0;
    tag->title = LMId3CopyRaw(b + 3, 30);
    tag->artist = LMId3CopyRaw(b + 33, 30);
    tag->album = LMId3CopyRaw(b + 63, 30);
    tag->comment = LMId3CopyRaw(b + 97, 29);
    char year[5] = {};
    memcpy(year, b + 93, 4);
    tag->year = LMId3Number(year);
    // ID3v1.1 keeps the track in the comment's last byte behind a 0; without that 0 the
    // byte is still comment text.
    if (b[125] == 0)
        tag->track = b[126];
    if (b[127] <= 147)
        tag->genre = strdup(LMGenreNames[b[127]]);
    return 1;
}
