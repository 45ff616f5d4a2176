// SPDX-License-Identifier: MIT
#include "qt/look.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleFactory>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QWidget>
#include <algorithm>
#include <array>
#include <functional>
#include <map>

namespace kt::ui {

QColor FromBgr(unsigned bgr) {
  return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                static_cast<int>((bgr >> 16) & 0xFF));
}

QFont SansSerif(double points) {
  QFont font(QString::fromLatin1(forms::design::kFace));
  font.setPointSizeF(points);
  font.setBold(true);
  return font;
}

void InstallFontSubstitutes() {
  // Liberation Sans is installed with the program's dependencies; the rest are the usual
  // sans faces of other systems.
  QFont::insertSubstitutions(
      QString::fromLatin1(forms::design::kFace),
      {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
       QStringLiteral("Arial"), QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
}

namespace {

// An icon made when it is first drawn or measured.
class DeferredIconEngine : public QIconEngine {
 public:
  explicit DeferredIconEngine(std::function<QIcon()> make) : make_(std::move(make)) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    Made().paint(painter, rect, Qt::AlignCenter, mode, state);
  }
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return Made().pixmap(size, mode, state);
  }
  QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return Made().actualSize(size, mode, state);
  }
  QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
    return Made().availableSizes(mode, state);
  }
  bool isNull() override { return Made().isNull(); }
  QIconEngine* clone() const override { return new DeferredIconEngine(*this); }

 private:
  const QIcon& Made() {
    if (make_) {
      made_ = make_();
      make_ = nullptr;
    }
    return made_;
  }
  std::function<QIcon()> make_;
  QIcon made_;
};

// Fusion, with the focus mark of the design's platform: Fusion's own is a thin frame in the
// highlight colour, dark blue on the blue forms, and only after a key press.
class DesignStyle : public QProxyStyle {
 public:
  DesignStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

  // Every menu bar asks for its overflow arrow when it is built, and Fusion decodes each
  // size of it then, a tenth of the main window's making; the arrow shows only when the
  // window is too narrow for its menus, so it is made when first drawn.
  QIcon standardIcon(StandardPixmap icon, const QStyleOption* option,
                     const QWidget* widget) const override {
    if (icon != SP_ToolBarHorizontalExtensionButton && icon != SP_ToolBarVerticalExtensionButton)
      return QProxyStyle::standardIcon(icon, option, widget);
    const QStyle* base = baseStyle();
    return QIcon(new DeferredIconEngine([base, icon] { return base->standardIcon(icon); }));
  }

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    if (element != PE_FrameFocusRect) {
      QProxyStyle::drawPrimitive(element, option, painter, widget);
      return;
    }
    const QColor colour = widget ? widget->palette().color(widget->foregroundRole())
                                 : option->palette.color(QPalette::WindowText);
    painter->save();
    painter->setPen(QPen(colour, 1, Qt::DotLine));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
    painter->restore();
  }

  // Fusion marks a focused button only by a tinted outline; the mark goes inside it too.
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    QProxyStyle::drawControl(element, option, painter, widget);
    if (element != CE_PushButton || !(option->state & State_HasFocus)) return;
    QStyleOptionFocusRect focus;
    focus.QStyleOption::operator=(*option);
    focus.rect = subElementRect(SE_PushButtonFocusRect, option, widget);
    drawPrimitive(PE_FrameFocusRect, &focus, painter, widget);
  }
};

// The light colours of the design's platform, every role given, so that nothing is left
// for a desktop theme to fill in.
QPalette LightPalette() {
  QPalette palette(QColor(240, 240, 240), QColor(240, 240, 240));
  const std::pair<QPalette::ColorRole, QColor> roles[] = {
      {QPalette::WindowText, Qt::black},
      {QPalette::Base, Qt::white},
      {QPalette::AlternateBase, QColor(245, 245, 245)},
      {QPalette::Text, Qt::black},
      {QPalette::ButtonText, Qt::black},
      {QPalette::BrightText, Qt::white},
      {QPalette::Highlight, QColor(0, 120, 215)},
      {QPalette::HighlightedText, Qt::white},
      {QPalette::ToolTipBase, QColor(255, 255, 225)},
      {QPalette::ToolTipText, Qt::black},
      {QPalette::PlaceholderText, QColor(120, 120, 120)},
      {QPalette::Link, QColor(0, 0, 255)},
      {QPalette::LinkVisited, QColor(128, 0, 128)},
  };
  for (const auto& [role, colour] : roles) palette.setColor(role, colour);
  for (const QPalette::ColorRole role :
       {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    palette.setColor(QPalette::Disabled, role, QColor(120, 120, 120));
  return palette;
}

}  // namespace

void ApplyDesignLook() {
  QApplication::setStyle(new DesignStyle);  // the application owns it
  // A palette the program sets stays when the desktop's theme changes, dark or light. A
  // theme also gives palettes for single kinds of control; each is replaced as well.
  const QPalette palette = LightPalette();
  QApplication::setPalette(palette);
  for (const char* kind :
       {"QAbstractButton", "QPushButton", "QToolButton", "QCheckBox", "QRadioButton", "QLabel",
        "QGroupBox", "QLineEdit", "QTextEdit", "QTextControl", "QComboBox", "QMenu", "QMenuBar",
        "QHeaderView", "QAbstractItemView", "QTabBar", "QMessageBoxLabel", "QDialog"})
    QApplication::setPalette(palette, kind);
}

void Frame::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QFontMetrics metrics(font());
  // The line runs through the middle of the caption's height; the caption sits on it.
  QRect line = rect().adjusted(0, 0, -1, -1);
  line.setTop(metrics.height() / 2);
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawRect(line);
  const QString caption = title();
  if (caption.isEmpty()) return;
  const QRect text(Twips(120, 0, 0, 0).left(), 0, metrics.horizontalAdvance(caption),
                   metrics.height());
  painter.fillRect(text, palette().color(QPalette::Window));
  painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, caption);
}

FocusablePicture::FocusablePicture(QWidget* parent) : QLabel(parent) {
  setFocusPolicy(Qt::TabFocus);
}

void FocusablePicture::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  if (!hasFocus()) return;
  QStylePainter painter(this);
  QStyleOptionFocusRect option;
  option.initFrom(this);
  painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
}

void ApplyBlueLook(QWidget& form) {
  QPalette palette = form.palette();
  palette.setColor(QPalette::Window, FromBgr(forms::design::kBlue));
  palette.setColor(QPalette::WindowText, Qt::white);
  form.setPalette(palette);
  form.setAutoFillBackground(true);
}

void CentreOnScreen(QWidget& form) {
  if (const QScreen* screen = form.screen()) {
    QRect frame = form.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    form.move(frame.topLeft());
  }
}

namespace {

// The icon's drawn sizes, decoded on demand: adding the eight files to a QIcon decodes every
// one of them at once, which cost more than the rest of a window's construction.
class ProgramIconEngine : public QIconEngine {
 public:
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
    const int side = Drawn(std::max(size.width(), size.height()));
    QPixmap& decoded = decoded_[side];
    if (decoded.isNull())
      decoded.load(QStringLiteral(":/kt310/hicolor/kt310-%1.png").arg(side), "PNG");
    QPixmap result = decoded.size() == size
                         ? decoded
                         : decoded.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (mode != QIcon::Normal && mode != QIcon::Active) {
      QStyleOption option;
      result = QApplication::style()->generatedIconPixmap(mode, result, &option);
    }
    return result;
  }
  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
  }
  QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
    const int side =
        std::min({Drawn(std::max(size.width(), size.height())), size.width(), size.height()});
    return {side, side};
  }
  QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
    QList<QSize> sizes;
    for (const int side : kSides) sizes.append(QSize(side, side));
    return sizes;
  }
  QIconEngine* clone() const override { return new ProgramIconEngine(*this); }
  QString key() const override { return QStringLiteral("kt310"); }

 private:
  static constexpr std::array<int, 8> kSides{16, 22, 24, 32, 48, 64, 128, 256};
  // The smallest drawn size not below the one asked for, else the largest.
  static int Drawn(int wanted) {
    for (const int side : kSides)
      if (side >= wanted) return side;
    return kSides.back();
  }
  std::map<int, QPixmap> decoded_;
};

}  // namespace

QIcon ProgramIcon() {
  // Kept for the rest of the run, never destroyed: its pixmaps must not outlive the
  // application object.
  static const QIcon* icon = new QIcon(new ProgramIconEngine);
  return *icon;
}

QString ApplicationTitle() { return QApplication::applicationName(); }

}  // namespace kt::ui
