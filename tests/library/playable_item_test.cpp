#include <limits>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>

#include "fake_audio.h"
#include "library/character_encoding.h"
#include "library/playable_item.h"
#include "library/settings_keys.h"
#include "platform/core/user_defaults.h"
#include "support/test_support.h"

namespace {

class PlayableItemTest : public ::testing::Test {
protected:
    void SetUp() override { lmtest::ensureApp(); }
    QString q(const std::string &name) const { return QString::fromStdString(dir.file(name)); }
    std::string add(const std::string &name, const fakeaudio::Spec &spec = fakeaudio::Spec())
    {
        audio.add(dir.file(name), spec);
        return dir.file(name);
    }

    lmtest::TempDir config;
    lmtest::ScopedEnv env{"XDG_CONFIG_HOME", config.path()};
    lmtest::TempDir dir;
    fakeaudio::Scope audio;
};

const char *kSheet = "PERFORMER \"Disc Artist\"\nTITLE \"Disc Title\"\n"
                     "TRACK 01 AUDIO\n  TITLE \"First\"\n  INDEX 01 00:00:00\n"
                     "TRACK 02 AUDIO\n  TITLE \"Second\"\n  INDEX 01 04:00:00\n"
                     "TRACK 03 AUDIO\n  INDEX 01 08:20:00\n";

TEST_F(PlayableItemTest, TypesFollowTheExtensionInAnyCase)
{
    const std::pair<const char *, int> cases[] = {
        {"/a/song.wv", PlayableItem::AudioTypeWav},   {"/a/song.WAV", PlayableItem::AudioTypeWav},
        {"/a/song.Aif", PlayableItem::AudioTypeAiff}, {"/a/song.aiff", PlayableItem::AudioTypeAiff},
        {"/a/song.aifc", PlayableItem::AudioTypeAiff},
        {"/a/song.m4a", PlayableItem::AudioTypeM4a},  {"/a/song.mp3", PlayableItem::AudioTypeMp3},
        {"/a/song.FLAC", PlayableItem::AudioTypeFlac}, {"/a/song.ape", PlayableItem::AudioTypeApe},
        {"/a/song.ogg", PlayableItem::AudioTypeNone}, {"/a.flac/song", PlayableItem::AudioTypeNone},
    };
    for (const auto &[path, type] : cases)
        EXPECT_EQ(PlayableItem::typeOfAudioFile(path), type) << path;
    // An unknown extension is not even opened.
    add("x.ogg");
    EXPECT_EQ(PlayableItem::itemWithPath(q("x.ogg")), nullptr);
    EXPECT_EQ(audio.opens(dir.file("x.ogg")), 0);
    EXPECT_EQ(PlayableItem::itemWithPath(q("refused.flac")), nullptr);
}

TEST_F(PlayableItemTest, TagFieldsAndFormatAreCopiedOut)
{
    fakeaudio::Spec spec;
    spec.title = "T\xc3\xadtulo";
    spec.artist = "Artist";
    spec.album = "Album";
    spec.genre = "Jazz";
    spec.year = 1999;
    spec.track = 7;
    spec.duration = 123.25;
    spec.sampleRate = 96000;
    spec.bits = 24;
    spec.picture = {1, 2, 3};
    add("song.flac", spec);
    PlayableItemPtr item = PlayableItem::itemWithPath(q("song.flac"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->title(), QString::fromUtf8("Título"));
    EXPECT_EQ(item->tagtitle(), item->title());
    EXPECT_TRUE(item->ownFile());
    EXPECT_EQ(item->trackNumber(), 7);
    EXPECT_FLOAT_EQ(item->totalTime(), 123.25f);
    EXPECT_EQ(QStringList({item->artist(), item->album(), item->genre()}), QStringList({"Artist", "Album", "Jazz"}));
    EXPECT_EQ(item->year(), 1999);
    EXPECT_EQ(item->sampleRate(), 96000);
    EXPECT_EQ(item->bitsPerSample(), 24);
    EXPECT_TRUE(item->hasEmbeddedCoverImage());
    EXPECT_EQ(audio.opens(dir.file("song.flac")), 1);   // opened once, not kept open

    // No tag title: the file name without its extension; the tag title stays none.
    add("Some.Name.wav");
    item = PlayableItem::itemWithPath(q("Some.Name.wav"));
    EXPECT_EQ(item->title(), "Some.Name");
    EXPECT_TRUE(item->tagtitle().isNull());
    EXPECT_TRUE(item->album().isNull());
    EXPECT_FALSE(item->hasEmbeddedCoverImage());
}

TEST_F(PlayableItemTest, LegacyTagTextsAreReadInTheChosenEncoding)
{
    // ID3v1 keeps raw bytes; a CP1251 title must not be dropped.
    fakeaudio::Spec spec;
    spec.title = "\xcf\xf0\xe8\xe2\xe5\xf2";   // "Привет"
    spec.artist = "\xc0\xeb\xe8\xf1\xe0";      // "Алиса"
    add("v1.mp3", spec);
    UserDefaults::setInteger(SettingsKeys::PreferedEnc, CharacterEncoding::Russian);
    PlayableItemPtr item = PlayableItem::itemWithPath(q("v1.mp3"));
    EXPECT_EQ(item->title(), QString::fromUtf8("Привет"));
    EXPECT_EQ(item->tagtitle(), QString::fromUtf8("Привет"));
    EXPECT_EQ(item->artist(), QString::fromUtf8("Алиса"));
    UserDefaults::setInteger(SettingsKeys::PreferedEnc, CharacterEncoding::Western);
    item = PlayableItem::itemWithPath(q("v1.mp3"));
    EXPECT_EQ(item->title(), CharacterEncoding::parseCString(QByteArray("\xcf\xf0\xe8\xe2\xe5\xf2"), 0u));

    // A title that yields no text falls back to the file name, never to an empty title.
    spec = fakeaudio::Spec();
    spec.title = "";
    add("empty-title.wav", spec);
    item = PlayableItem::itemWithPath(q("empty-title.wav"));
    EXPECT_EQ(item->title(), "empty-title");
    EXPECT_TRUE(item->tagtitle().isNull());
}

TEST_F(PlayableItemTest, CueSheetBesideTheImageMakesTracks)
{
    fakeaudio::Spec spec;
    spec.duration = 731.5;
    spec.album = "Tag album";
    spec.artist = "Tag artist";
    spec.genre = "Rock";
    spec.year = 2001;
    spec.track = 9;
    spec.picture = {1};
    add("disc.flac", spec);
    lmtest::writeFile(dir.file("disc.cue"), std::string(kSheet));
    PlayableItemPtr item = PlayableItem::itemWithPath(q("disc.flac"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->title(), "Disc Title");
    EXPECT_EQ(item->album(), "Disc Title");
    EXPECT_EQ(item->artist(), "Disc Artist");
    EXPECT_TRUE(item->ownFile());
    ASSERT_EQ(item->subItems().size(), 3);
    const float lengths[] = {240, 260, 231.5f};
    const float starts[] = {0, 240, 500};
    const char *titles[] = {"First", "Second", ""};
    for (int i = 0; i < 3; i++) {
        const PlayableItemPtr &t = item->subItems()[i];
        EXPECT_FALSE(t->ownFile());
        EXPECT_EQ(t->trackNumber(), i + 1);
        EXPECT_FLOAT_EQ(t->startTime(), starts[i]);
        EXPECT_FLOAT_EQ(t->totalTime(), lengths[i]);
        EXPECT_EQ(t->title(), titles[i]);
        EXPECT_FALSE(t->title().isNull());
        EXPECT_EQ(t->path(), item->path());
        EXPECT_EQ(t->artist(), "Disc Artist");
        EXPECT_EQ(t->album(), "Disc Title");
        EXPECT_TRUE(t->hasEmbeddedCoverImage());
        EXPECT_TRUE(t->genre().isNull());   // cue tracks have no genre, year or tag title
        EXPECT_EQ(t->year(), 0);
    }
    EXPECT_EQ(item->subItems()[1]->description(), "Track 2 Second start at 04:00");
}

TEST_F(PlayableItemTest, LegacyEncodedSheetsFollowTheChosenEncoding)
{
    // CP1251 and Shift_JIS bytes, as Windows tools save them.
    add("ru.flac");
    lmtest::writeFile(dir.file("ru.cue"), std::string("PERFORMER \"\xc0\xeb\xe8\xf1\xe0\"\nTITLE \"\xcf\xf0\xe8\xe2\xe5\xf2\"\n"
                                                      "TRACK 01 AUDIO\n TITLE \"\xd0\xee\xea\"\n INDEX 01 00:00:00\n"));
    add("jp.flac");
    lmtest::writeFile(dir.file("jp.cue"), std::string("TITLE \"\x93\xfa\x96\x7b\"\nTRACK 01 AUDIO\n TITLE \"\x89\xcc\"\n"));
    UserDefaults::setInteger(SettingsKeys::PreferedEnc, CharacterEncoding::Russian);
    PlayableItemPtr ru = PlayableItem::itemWithPath(q("ru.flac"));
    EXPECT_EQ(ru->title(), QString::fromUtf8("Привет"));
    EXPECT_EQ(ru->artist(), QString::fromUtf8("Алиса"));
    EXPECT_EQ(ru->subItems()[0]->title(), QString::fromUtf8("Рок"));
    UserDefaults::setInteger(SettingsKeys::PreferedEnc, CharacterEncoding::Japanese);
    PlayableItemPtr jp = PlayableItem::itemWithPath(q("jp.flac"));
    EXPECT_EQ(jp->title(), QString::fromUtf8("日本"));
    EXPECT_EQ(jp->subItems()[0]->title(), QString::fromUtf8("歌"));
}

TEST_F(PlayableItemTest, EmbeddedSheetIsWrittenOnceAndNeverOverwritten)
{
    fakeaudio::Spec spec;
    spec.duration = 600;
    spec.cuesheet = kSheet;
    add("img.flac", spec);
    PlayableItemPtr item = PlayableItem::itemWithPath(q("img.flac"));
    ASSERT_EQ(item->subItems().size(), 3);
    EXPECT_EQ(lmtest::readText(dir.file("img.flac.cue")), kSheet);
    EXPECT_FLOAT_EQ(item->subItems()[2]->totalTime(), 100);

    // The tag changes; the written sheet stays and is what later scans use.
    spec.cuesheet = "TITLE \"Changed\"\nTRACK 01\n";
    add("img.flac", spec);
    item = PlayableItem::itemWithPath(q("img.flac"));
    EXPECT_EQ(item->title(), "Disc Title");
    EXPECT_EQ(item->subItems().size(), 3);
    EXPECT_EQ(lmtest::readText(dir.file("img.flac.cue")), kSheet);

    // A sheet beside the image wins over the embedded one.
    lmtest::writeFile(dir.file("img.cue"), std::string("TITLE \"Beside\"\nTRACK 01\nTRACK 02\n"));
    item = PlayableItem::itemWithPath(q("img.flac"));
    EXPECT_EQ(item->title(), "Beside");
    EXPECT_EQ(item->subItems().size(), 2);

    // No temporary file is left beside the image.
    EXPECT_EQ(QDir(QString::fromStdString(dir.path())).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

TEST_F(PlayableItemTest, EmbeddedSheetThatCannotBeWrittenStillGivesTracks)
{
    fakeaudio::Spec spec;
    spec.cuesheet = kSheet;
    spec.duration = 600;
    add("full.flac", spec);
    PlayableItemPtr item;
    {
        lmtest::FileSizeLimit full(10);   // the disk is full
        item = PlayableItem::itemWithPath(q("full.flac"));
    }
    ASSERT_TRUE(item);
    EXPECT_EQ(item->subItems().size(), 3);
    EXPECT_EQ(item->title(), "Disc Title");
    // Neither a truncated sheet nor a temporary file stays behind to be used later.
    EXPECT_FALSE(QFile::exists(q("full.flac.cue")));
    EXPECT_EQ(QDir(QString::fromStdString(dir.path())).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(PlayableItemTest, EqualityIsByPathKindAndTrackNumber)
{
    fakeaudio::Spec spec;
    spec.track = 1;
    add("disc.flac", spec);
    lmtest::writeFile(dir.file("disc.cue"), std::string(kSheet));
    PlayableItemPtr a = PlayableItem::itemWithPath(q("disc.flac"));
    PlayableItemPtr b = PlayableItem::itemWithPath(q("disc.flac"));
    ASSERT_TRUE(a && b);
    EXPECT_NE(a.get(), b.get());
    EXPECT_TRUE(a->isEqualToItem(b));
    EXPECT_TRUE(a->subItems()[1]->isEqualToItem(b->subItems()[1]));
    EXPECT_FALSE(a->subItems()[0]->isEqualToItem(b->subItems()[1]));
    // The file and its first track share path and number 1, but not the kind.
    EXPECT_EQ(a->trackNumber(), 1);
    EXPECT_FALSE(a->isEqualToItem(a->subItems()[0]));
    EXPECT_FALSE(a->isEqualToItem(nullptr));
    EXPECT_TRUE(a->isEqualToItem(a.get()));
}

TEST_F(PlayableItemTest, DescriptionAndHumanTime)
{
    EXPECT_EQ(PlayableItem::humanTime(59.99f), "00:59");
    EXPECT_EQ(PlayableItem::humanTime(60.0f), "01:00");
    EXPECT_EQ(PlayableItem::humanTime(3725.9f), "62:05");
    EXPECT_EQ(PlayableItem::humanTime(std::numeric_limits<float>::infinity()), "00:00");
    PlayableItemPtr t = PlayableItem::itemWithTrackNumber(3, "Name", "/x.flac", 61.5f, 10);
    EXPECT_EQ(t->description(), "Track 3 Name start at 01:01");
    EXPECT_FALSE(t->ownFile());
    EXPECT_TRUE(t->album().isNull());
    add("s.wav");
    EXPECT_EQ(PlayableItem::itemWithPath(q("s.wav"))->description(), "s(" + q("s.wav") + ")");
}

QByteArray pngBytes(QColor color)
{
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

TEST_F(PlayableItemTest, CoverSearchOrderAndFallbackToTheTagPicture)
{
    fakeaudio::Spec spec;
    spec.album = "Album";
    QByteArray red = pngBytes(Qt::red);
    spec.picture.assign(red.begin(), red.end());
    add("song.flac", spec);
    PlayableItemPtr item = PlayableItem::itemWithPath(q("song.flac"));

    EXPECT_TRUE(PlayableItem::GetCoverArtFile(q("song.flac"), "Album").isNull());
    // Embedded picture: read from the file on each request, path stays none.
    QImage img = item->coverImage();
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.pixelColor(0, 0), QColor(Qt::red));
    EXPECT_TRUE(item->coverImagePath().isNull());

    // Album picture, then a picture named like the song (earlier extensions first).
    lmtest::writeFile(dir.file("Album.jpg"), pngBytes(Qt::green).toStdString());
    EXPECT_EQ(PlayableItem::GetCoverArtFile(q("song.flac"), "Album"), q("Album.jpg"));
    EXPECT_EQ(item->coverImage().pixelColor(0, 0), QColor(Qt::green));
    EXPECT_EQ(item->coverImagePath(), q("Album.jpg"));
    lmtest::writeFile(dir.file("song.png"), pngBytes(Qt::blue).toStdString());
    lmtest::writeFile(dir.file("song.gif"), "not an image");
    EXPECT_EQ(PlayableItem::GetCoverArtFile(q("song.flac"), "Album"), q("song.png"));
    // The remembered path holds while it still loads.
    EXPECT_EQ(item->coverImage().pixelColor(0, 0), QColor(Qt::green));
    QFile::remove(q("Album.jpg"));
    EXPECT_EQ(item->coverImage().pixelColor(0, 0), QColor(Qt::blue));
    EXPECT_EQ(item->coverImagePath(), q("song.png"));

    // A picture file that does not decode is forgotten; the tag picture answers.
    lmtest::writeFile(dir.file("song.bmp"), "broken");
    item->setCoverImagePath(QString());
    EXPECT_EQ(item->coverImage().pixelColor(0, 0), QColor(Qt::red));
    EXPECT_TRUE(item->coverImagePath().isNull());
}

// With the real readers.
TEST_F(PlayableItemTest, RealWavFileThroughTheReaders)
{
    PlayableItem::setFileOpener(nullptr);
    std::string path = dir.file("tone.wav");
    lmtest::writeWav(path, 44100, 2, 16, lmtest::tonePcm(44100, 2, 16, 2.0));
    PlayableItemPtr item = PlayableItem::itemWithPath(QString::fromStdString(path));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->title(), "tone");
    EXPECT_EQ(item->sampleRate(), 44100);
    EXPECT_EQ(item->bitsPerSample(), 16);
    EXPECT_NEAR(item->totalTime(), 2.0, 0.01);
    lmtest::writeFile(dir.file("tone.cue"), std::string("TITLE \"Tone\"\nTRACK 01\n INDEX 01 00:00:00\n"
                                                        "TRACK 02\n INDEX 01 00:01:00\n"));
    item = PlayableItem::itemWithPath(QString::fromStdString(path));
    ASSERT_EQ(item->subItems().size(), 2);
    EXPECT_NEAR(item->subItems()[1]->totalTime(), 1.0, 0.01);
}

} // namespace
