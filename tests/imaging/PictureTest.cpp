// The picture holder, the picture-kind helpers and the picture file helpers.

#include "Bitmap.h"
#include "GraphicError.h"
#include "ImageFns.h"
#include "Picture.h"
#include "PictureFile.h"
#include "PictureKind.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace pixhold::imaging {
namespace {

TEST(PictureFiles, AreKnownByTheirExtensionInAnyLetterCase) {
    const struct {
        const char* Name;
        bool Picture;
    } cases[] = {
        {"a.jpg", true},  {"A.JPG", true},   {"b.jpeg", true},  {"c.Gif", true},
        {"d.bmp", true},  {"e.ICO", true},   {"f.wmf", true},   {"g.emf", true},
        {"h.png", true},  {"i.tif", false},  {"j.tiff", false}, {"noext", false},
        {"k.", false},    {"dir.jpg\\x", false}, {"dir.d/x.png", true}, {".png", true},
    };
    for (const auto& c : cases) EXPECT_EQ(IsPictureFile(c.Name), c.Picture) << c.Name;
}

TEST(PictureFiles, SaveAsTypeIndexesMapToExtensions) {
    const char* const expected[] = {".gif", ".jpg", ".jpeg", ".bmp", ".ico", ".emf", ".wmf", ".png"};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(ExtensionOfFileType(i), expected[i]) << i;
    EXPECT_EQ(ExtensionOfFileType(-1), "");
    EXPECT_EQ(ExtensionOfFileType(8), "");
    // The list of stored-picture types is the filter's first seven entries.
    const std::string filter = SaveAsFilter;
    for (const char* type : SaveAsTypes) EXPECT_NE(filter.find(std::string(type) + "|"), std::string::npos) << type;
}

TEST(PictureKinds, AreRecognisedByTheirSignature) {
    auto bytes = [](std::initializer_list<int> b) {
        TByteVector v;
        for (int x : b) v.push_back(static_cast<std::uint8_t>(x));
        v.resize(std::max<std::size_t>(v.size(), 64), 0);
        return v;
    };
    TByteVector emf(64, 0);
    emf[0] = 1;
    emf[40] = ' ';
    emf[41] = 'E';
    emf[42] = 'M';
    emf[43] = 'F';
    const struct {
        const char* What;
        TByteVector Data;
        TImageType Kind;
    } cases[] = {
        {"jpeg", bytes({0xFF, 0xD8, 0xFF, 0xE0}), TImageType::Jpeg},
        {"png", bytes({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}), TImageType::Png},
        {"gif", bytes({'G', 'I', 'F', '8', '9', 'a'}), TImageType::Gif},
        {"bmp", bytes({'B', 'M'}), TImageType::Bitmap},
        {"placeable wmf", bytes({0xD7, 0xCD, 0xC6, 0x9A}), TImageType::Wmf},
        {"plain wmf", bytes({1, 0, 9, 0, 0, 3}), TImageType::Wmf},
        {"emf", emf, TImageType::Emf},
        {"ico", bytes({0, 0, 1, 0, 1, 0}), TImageType::Icon},
        {"ico without entries", bytes({0, 0, 1, 0, 0, 0}), TImageType::Unknown},
        {"text", bytes({'h', 'e', 'l', 'l', 'o'}), TImageType::Unknown},
        {"empty", TByteVector(), TImageType::Unknown},
        {"short jpeg", TByteVector{0xFF, 0xD8}, TImageType::Unknown},
    };
    for (const auto& c : cases) EXPECT_EQ(DetectPictureKind(c.Data), c.Kind) << c.What;
}

TBitmap Checker(int w, int h) {
    TBitmap b(w, h, 24);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = b.Row(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(x * 10);
            p[1] = static_cast<std::uint8_t>(y * 10);
            p[2] = static_cast<std::uint8_t>((x + y) & 1 ? 255 : 0);
        }
    }
    return b;
}

TEST(Picture, AssignCopiesTheGraphicAndClearEmpties) {
    TPicture a;
    EXPECT_FALSE(a.HasGraphic());
    EXPECT_EQ(a.Width(), 0);
    a.SetBitmap(Checker(5, 3));
    TPicture b;
    b.Assign(a);
    ASSERT_TRUE(b.HasGraphic());
    EXPECT_EQ(*b.Kind(), TGraphicKind::Bitmap);
    EXPECT_EQ(b.Bitmap(), a.Bitmap());
    b.EditBitmap().Row(0)[0] = 77;  // a copy, not shared
    EXPECT_NE(b.Bitmap(), a.Bitmap());
    a.Clear();
    EXPECT_FALSE(a.HasGraphic());
    b.Assign(a);
    EXPECT_FALSE(b.HasGraphic());
}

TEST(Picture, EditedBitmapIsWhatIsDrawn) {
    TPicture picture;
    picture.SetBitmap(Checker(4, 4));
    const QImage before = picture.Graphic()->Render();
    std::uint8_t* p = picture.EditBitmap().Row(1) + 3 * 2;
    p[0] = 1;
    p[1] = 2;
    p[2] = 3;
    EXPECT_EQ(picture.Graphic()->Render().pixel(2, 1), qRgb(3, 2, 1));
    EXPECT_NE(before.pixel(2, 1), qRgb(3, 2, 1));
}

TEST(Picture, UnknownKindsWriteNothing) {
    TPicture picture;
    picture.SetBitmap(Checker(4, 4));
    EXPECT_TRUE(picture.Encode(TImageType::Unknown).empty());
}

TEST(Picture, FileErrorsAreClear) {
    test::TempDir dir;
    TPicture picture;
    const std::string missing = (dir / "missing.png").string();
    try {
        picture.LoadFromFile(missing);
        FAIL() << "loaded a missing file";
    } catch (const EPictureFileError& e) {
        EXPECT_NE(std::string(e.what()).find("missing.png"), std::string::npos) << e.what();
    }
    const std::string empty = (dir / "empty.jpg").string();
    std::ofstream(empty).close();
    EXPECT_THROW(picture.LoadFromFile(empty), EInvalidGraphic);
    const std::string tiff = (dir / "x.tif").string();
    std::ofstream(tiff) << "II*";
    try {
        picture.LoadFromFile(tiff);
        FAIL() << "loaded a .tif";
    } catch (const EInvalidGraphic& e) {
        EXPECT_NE(std::string(e.what()).find(".tif"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(picture.HasGraphic());
    EXPECT_THROW(picture.SaveToFile((dir / "x.tif").string()), EInvalidGraphic);
}

TEST(PictureFile, ReplacesAFileWholeOrNotAtAll) {
    test::TempDir dir;
    const std::string path = (dir / "p.bin").string();
    const TByteVector first{1, 2, 3};
    WritePictureFile(path, first);
    EXPECT_EQ(ReadPictureFile(path), first);
    const TByteVector second(100000, 9);
    WritePictureFile(path, second);
    EXPECT_EQ(ReadPictureFile(path), second);
    // A folder that does not exist: the error names the file, nothing is left behind.
    EXPECT_THROW(WritePictureFile((dir / "no" / "p.bin").string(), first), EPictureFileError);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    EXPECT_THROW(ReadPictureFile(dir.path().string()), EPictureFileError);
}

}  // namespace
}  // namespace pixhold::imaging
