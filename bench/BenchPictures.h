// A coin database with an obverse picture on every row, for the benchmarks
// of the pictures: the table, the pictures' folder and its index.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include "db/FieldTable.h"
#include "db/dbf/Table.h"
#include "pictures/PictureStore.h"

namespace klv::bench {

// dir/MASTER.DBF of rows rows. Each row's obverse is a picture of 800 x 800
// (a photograph's size), all of them hard links to one file; or, when
// distinct, each row's own picture of 400 x 400, told apart by its colour
// and number (as a collection's pictures are, which a workbook keeps once
// each).
inline void MakePictureDatabase(const std::string& dir, int rows, bool distinct = false) {
  namespace fs = std::filesystem;
  const std::string dbf = dir + "/MASTER.DBF";
  dbf::Table::CreateTable(dbf, CoinFieldDefs());
  dbf::Table t;
  t.SetDirectory(dir + "/");
  t.SetTableName("MASTER.DBF");
  t.Open();
  t.BeginAppendBatch();
  for (int i = 0; i < rows; ++i) {
    t.Append();
    t.FieldByName("Country").SetAsString(i % 3 ? "Canada" : "Peru");
    t.FieldByName("Year").SetAsString(std::to_string(1900 + i % 120));
    t.FieldByName("Descriptio").SetAsString("Coin " + std::to_string(i));
    t.Post();
  }
  t.EndAppendBatch();

  const std::string folder = pictures::FolderOf(dbf);
  fs::create_directories(folder);
  auto photo = [](int side, const QColor& colour, const QString& text) {
    QImage image(side, side, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, side, side);
    g.setColorAt(0, colour);
    g.setColorAt(1, Qt::white);
    p.fillRect(image.rect(), g);
    p.setPen(QPen(Qt::black, side / 60));
    p.drawEllipse(side / 20, side / 20, side * 9 / 10, side * 9 / 10);
    if (!text.isEmpty()) {
      QFont font = p.font();
      font.setPixelSize(side / 5);
      p.setFont(font);
      p.drawText(image.rect(), Qt::AlignCenter, text);
    }
    p.end();
    return image;
  };
  const std::string master = dir + "/photo.jpg";
  if (!distinct) photo(800, Qt::darkYellow, {}).save(QString::fromStdString(master), "JPEG", 85);

  dbf::Table::CreateTable(folder + "PICTURES.DBF", {{"RECNO", 'N', 10, 0},
                                                    {"SIDE", 'C', 7, 0},
                                                    {"PICTURE", 'C', 40, 0},
                                                    {"FINGERPR", 'C', 16, 0},
                                                    {"PACKRECNO", 'N', 10, 0},
                                                    {"PACKFROM", 'N', 10, 0},
                                                    {"PACKTO", 'N', 10, 0}});
  dbf::Table index;
  index.SetDirectory(folder);
  index.SetTableName("PICTURES.DBF");
  index.Open();
  index.BeginAppendBatch();
  char name[32];
  for (t.First(); !t.Eof(); t.Next()) {
    std::snprintf(name, sizeof name, "%08u.jpg", t.RecNo());
    if (distinct) {
      photo(400, QColor::fromHsv(int(t.RecNo() * 37 % 360), 200, 160), QString::number(t.RecNo()))
          .save(QString::fromStdString(folder + name), "JPEG", 85);
    } else {
      // A file takes at most 65,000 links: a new copy every 50,000 rows.
      const std::string copy = master + "." + std::to_string(t.RecNo() / 50000);
      if (!fs::exists(copy)) fs::copy_file(master, copy);
      fs::create_hard_link(copy, folder + name);
    }
    index.Append();
    index.FieldByName("RECNO").SetAsInteger(t.RecNo());
    index.FieldByName("SIDE").SetAsString("obverse");
    index.FieldByName("PICTURE").SetAsString(name);
    index.FieldByName("FINGERPR").SetAsString(pictures::Fingerprint(t));
    index.Post();
  }
  index.EndAppendBatch();
}

}  // namespace klv::bench
