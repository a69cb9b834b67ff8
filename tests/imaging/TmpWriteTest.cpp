#include "Metafile.h"
#include <QFile>
#include <fstream>
#include <iterator>
#include <gtest/gtest.h>
using namespace pixhold::imaging;
TEST(TmpWrite, All) {
    QImage img(60, 40, QImage::Format_RGB32);
    for (int y = 0; y < 40; ++y) for (int x = 0; x < 60; ++x) img.setPixel(x, y, x < 30 ? qRgb(255,0,0) : (y < 20 ? qRgb(0,255,0) : qRgb(0,0,255)));
    const TMetafile m = TMetafile::FromBitmap(img);
    auto put = [](const char* n, const TByteVector& b) { QFile f(n); f.open(QIODevice::WriteOnly); f.write(reinterpret_cast<const char*>(b.data()), b.size()); };
    put("/tmp/mf/ours.emf", m.SaveEmf());
    put("/tmp/mf/ours.wmf", m.SaveWmf());
    std::ifstream in("/work/wt/metafile/tests/imaging/fixtures/metafile/lo-text.wmf", std::ios::binary);
    TByteVector b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    put("/tmp/mf/ours-lotext.wmf", TMetafile::Read(b).SaveWmf());
    put("/tmp/mf/ours-lotext.emf", TMetafile::Read(b).SaveEmf());
}
