// What the export and import forms make their controls with, and the wait
// cursor of their runs. Only the forms of this folder include it.
#pragma once

#include <QApplication>
#include <QColor>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRect>
#include <QString>
#include <QTableWidget>

#include "forms/ColorGroups.h"
#include "platform/Prompts.h"

namespace klv::transfer {

using platform::L;

inline QPushButton* MakeButton(QWidget* parent, const char* text, const char* name, QRect at) {
  auto* b = new QPushButton(L(text), parent);
  b->setObjectName(QLatin1String(name));
  b->setAutoDefault(false);
  b->setGeometry(at);
  return b;
}

inline QLabel* MakeLabel(QWidget* parent, const char* text, const char* name, QRect at) {
  auto* l = new QLabel(L(text), parent);
  l->setObjectName(QLatin1String(name));
  l->setGeometry(at);
  return l;
}

inline QRadioButton* MakeRadio(QWidget* parent, const char* text, const char* name, QRect at) {
  auto* r = new QRadioButton(L(text), parent);
  r->setObjectName(QLatin1String(name));
  r->setGeometry(at);
  return r;
}

// A string grid whose row 0 is its fixed title row; no cell is edited in
// place.
inline QTableWidget* MakeGrid(QWidget* parent, const char* name, int rows, int columns) {
  auto* grid = new QTableWidget(rows, columns, parent);
  grid->setObjectName(QLatin1String(name));
  grid->horizontalHeader()->hide();
  grid->verticalHeader()->hide();
  grid->verticalHeader()->setMinimumSectionSize(1);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->setSelectionBehavior(QAbstractItemView::SelectItems);
  grid->setTabKeyNavigation(true);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      auto* item = new QTableWidgetItem;
      item->setFlags(r == 0 ? Qt::ItemIsEnabled : Qt::ItemIsEnabled | Qt::ItemIsSelectable);
      if (r == 0) {
        QFont bold = item->font();
        bold.setBold(true);
        item->setFont(bold);
        item->setBackground(parent->palette().button());
      }
      grid->setItem(r, c, item);
    }
  }
  return grid;
}

inline void Paint(QWidget* control, const QColor& background, const QColor& text,
                  bool fill = true) {
  forms::SetControlColors(control, background, text);
  control->setAutoFillBackground(fill);
}

class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace klv::transfer
