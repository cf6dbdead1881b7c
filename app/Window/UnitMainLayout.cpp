// The controls of TfrmMain at their places, with captions, hints and fonts, the action list, and
// how the controls follow the window's edges when it is enlarged.
#include "AnchorLayout.h"
#include "Glyphs.h"
#include "PlayScreen.h"
#include "TrackBar.h"
#include "UnitConst.h"
#include "UnitMain.h"

#include <QAction>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>

using namespace UnitConst;

namespace {

constexpr int kInformationWidth = 680;
constexpr int kFormatsX = 160; // of labOne on the information panel

// The window's sans-serif at a pixel height (the negative "font height" of the layout).
QFont PixelFont(int pixels, bool bold = false) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    // Tahoma where it exists, else a sans-serif of similar width, else the system's own.
    font.setFamilies({"Tahoma", "Liberation Sans", "Arial", "DejaVu Sans Condensed", font.family()});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// Narrows a label's font until `sample` fits `room` pixels: the time labels sit between fixed
// decorations, and a wide system font would make them overlap.
void FitLabelFont(QLabel* label, const char* sample, int room) {
    QFont font = label->font();
    for (int stretch = 100; stretch >= 70; stretch -= 5) {
        font.setStretch(stretch);
        if (QFontMetrics(font).horizontalAdvance(QString::fromUtf8(sample)) <= room) break;
    }
    label->setFont(font);
    label->adjustSize();
}

template <class T> T* Place(T* widget, const char* name, int x, int y, int w = -1, int h = -1) {
    widget->setObjectName(name);
    if (w < 0) {
        widget->adjustSize();
        widget->move(x, y);
    } else {
        widget->setGeometry(x, y, w, h);
    }
    return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, int x, int y, const QFont& font) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setFont(font);
    return Place(label, name, x, y);
}

// A line along the top of its rectangle, drawn sunken; passes the mouse through.
class TTopLineBevel : public QFrame {
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(palette().color(QPalette::Dark));
        p.drawLine(0, 0, width() - 1, 0);
        p.setPen(palette().color(QPalette::Light));
        p.drawLine(0, 1, width() - 1, 1);
    }
};

QPushButton* MakeGlyphButton(QWidget* parent, const char* name, TGlyph glyph, const char* hint, int x, int y,
                             int w, int h) {
    auto* button = new QPushButton(parent);
    QSize glyphSize = w > 40 ? QSize(w - 14, h - 10) : QSize(h - 9, h - 9);
    button->setIcon(MakeGlyph(glyph, glyphSize));
    button->setIconSize(glyphSize);
    button->setToolTip(QString::fromUtf8(hint));
    return Place(button, name, x, y, w, h);
}

// Ties a button to an action: a click triggers it; the button follows its enabled state.
void LinkAction(QPushButton* button, QAction* action) {
    button->setProperty("action", QVariant::fromValue<QObject*>(action));
    if (!action->text().isEmpty()) button->setText(action->text());
    if (button->toolTip().isEmpty()) button->setToolTip(action->toolTip());
    action->setToolTip(button->toolTip());
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
    QObject::connect(action, &QAction::changed, button,
                     [button, action] { button->setEnabled(action->isEnabled()); });
    button->setEnabled(action->isEnabled());
}

} // namespace

void TfrmMain::CreateActions() {
    auto make = [this](const char* name, const char* caption, void (TfrmMain::*handler)()) {
        auto* action = new QAction(QString::fromUtf8(caption), this);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return action;
    };
    actAddRemoveFile = make("actAddRemoveFile", kAddFile, &TfrmMain::actAddRemoveFileExecute);
    actCutStartTime = make("actCutStartTime", "", &TfrmMain::actCutStartTimeExecute);
    actCutEndTime = make("actCutEndTime", "", &TfrmMain::actCutEndTimeExecute);
    actSelectAudio = make("actSelectAudio", "", &TfrmMain::actSelectAudioExecute);
    actDeleteAudio = make("actDeleteAudio", "", &TfrmMain::actDeleteAudioExecute);
    actGotoFirst = make("actGotoFirst", "", &TfrmMain::actGotoFirstExecute);
    actGotoEnd = make("actGotoEnd", "", &TfrmMain::actGotoEndExecute);
    actPlayPause = make("actPlayPause", "", &TfrmMain::actPlayPauseExecute);
    actPrelisten = make("actPrelisten", "", &TfrmMain::actPrelistenExecute);
    actSaveFile = make("actSaveFile", "", &TfrmMain::actSaveFileExecute);
    actStopSave = make("actStopSave", "", &TfrmMain::actStopSaveExecute);
}

void TfrmMain::CreateControls() {
    setFont(PixelFont(11));

    memPlayScreen = Place(new TPlayScreen(this), "memPlayScreen", 11, 30, 682, 60);
    QFont screenFont = PixelFont(24, true);
    memPlayScreen->setFont(screenFont);
    {
        QPalette pal = memPlayScreen->palette();
        pal.setColor(QPalette::WindowText, QColor(192, 192, 192)); // silver
        pal.setColor(QPalette::Disabled, QPalette::WindowText, QColor(192, 192, 192));
        memPlayScreen->setPalette(pal);
    }
    memPlayScreen->setEnabled(false);

    panInformation = Place(new QFrame(this), "panInformation", 12, 31, kInformationWidth, 58);
    panInformation->setFrameShape(QFrame::NoFrame);
    panInformation->setAutoFillBackground(true);
    {
        QPalette pal = panInformation->palette();
        pal.setColor(QPalette::Window, Qt::white);
        panInformation->setPalette(pal);
    }
    labOne = MakeLabel(panInformation, "labOne", kSupportedFormats, kFormatsX, 23, PixelFont(13));
    {
        QPalette pal = labOne->palette();
        pal.setColor(QPalette::WindowText, QColor(128, 128, 128)); // grey
        labOne->setPalette(pal);
    }

    labStartTime = MakeLabel(this, "labStartTime", "[", 13, 99, PixelFont(13, true));
    labTimeS = MakeLabel(this, "labTimeS", kZeroTime, 18, 101, PixelFont(11, true));
    labS = MakeLabel(this, "labS", "- -", 92, 99, PixelFont(11));
    labTimeE = MakeLabel(this, "labTimeE", kZeroTime, 104, 101, PixelFont(11, true));
    labEndTime = MakeLabel(this, "labEndTime", "]", 174, 99, PixelFont(13, true));
    labRunTime = MakeLabel(this, "labRunTime", kZeroTime, 550, 103, PixelFont(11));
    labSS = MakeLabel(this, "labSS", "/", 617, 100, PixelFont(13));
    labTotalTime = MakeLabel(this, "labTotalTime", kZeroTime, 623, 103, PixelFont(11));
    FitLabelFont(labTimeS, kZeroTime, labS->x() - labTimeS->x() - 1);
    FitLabelFont(labTimeE, kZeroTime, labEndTime->x() - labTimeE->x() - 1);
    FitLabelFont(labRunTime, kZeroTime, labSS->x() - labRunTime->x() - 1);
    FitLabelFont(labTotalTime, kZeroTime, 704 - labTotalTime->x() - 2);

    stbPosition = Place(new TTrackBar(this), "stbPosition", 5, 121, 690, 30);
    stbPosition->SetThumbLength(20);
    connect(stbPosition, &TTrackBar::MouseDown, this, [this] { stbPositionMouseDown(); });
    connect(stbPosition, &TTrackBar::MouseUp, this, [this] { stbPositionMouseUp(); });

    bbPlay = MakeGlyphButton(this, "bbPlay", TGlyph::Play, kHintPlay, 9, 161, 30, 25);
    bbStop = MakeGlyphButton(this, "bbStop", TGlyph::Stop, kHintStop, 41, 161, 30, 25);
    connect(bbPlay, &QPushButton::clicked, this, [this] { bbPlayClick(); });
    connect(bbStop, &QPushButton::clicked, this, [this] { bbStopClick(); });
    bbGotoFirst = MakeGlyphButton(this, "bbGotoFirst", TGlyph::GotoFirst, kHintGotoFirst, 75, 161, 30, 25);
    bbGotoEnd = MakeGlyphButton(this, "bbGotoEnd", TGlyph::GotoEnd, kHintGotoEnd, 108, 161, 30, 25);
    bbCutStartTime =
        MakeGlyphButton(this, "bbCutStartTime", TGlyph::TrimLeft, kHintCutStart, 249, 156, 60, 30);
    bbCutEndTime = MakeGlyphButton(this, "bbCutEndTime", TGlyph::TrimRight, kHintCutEnd, 310, 156, 60, 30);
    bbSelectAudio =
        MakeGlyphButton(this, "bbSelectAudio", TGlyph::SelectAudio, kHintSelectAudio, 372, 156, 60, 30);
    bbDeleteAudio =
        MakeGlyphButton(this, "bbDeleteAudio", TGlyph::DeleteAudio, kHintDeleteAudio, 433, 156, 60, 30);
    // The mode buttons show which mode is chosen by staying pressed.
    bbSelectAudio->setCheckable(true);
    bbDeleteAudio->setCheckable(true);
    // Beside the mode buttons, leaving room before Add File for one more small control.
    bbPrelisten = MakeGlyphButton(this, "bbPrelisten", TGlyph::Prelisten, kHintPrelisten, 495, 156, 32, 30);
    bbAddRemoveFile = Place(new QPushButton(this), "bbAddRemoveFile", 573, 161, 120, 25);
    LinkAction(bbGotoFirst, actGotoFirst);
    LinkAction(bbGotoEnd, actGotoEnd);
    LinkAction(bbCutStartTime, actCutStartTime);
    LinkAction(bbCutEndTime, actCutEndTime);
    LinkAction(bbSelectAudio, actSelectAudio);
    LinkAction(bbDeleteAudio, actDeleteAudio);
    LinkAction(bbPrelisten, actPrelisten);
    LinkAction(bbAddRemoveFile, actAddRemoveFile);
    bbAddRemoveFile->setProperty("Tag", 0);
    CreateLosslessToggle();

    Bevel1 = Place(new TTopLineBevel(this), "Bevel1", 0, 198, 705, 50);
    Bevel1->setAttribute(Qt::WA_TransparentForMouseEvents);
    Bevel1->lower();

    pbProgress = Place(new QProgressBar(this), "pbProgress", 10, 212, 550, 10);
    pbProgress->setRange(0, 100);
    pbProgress->setValue(0);
    pbProgress->setTextVisible(false);
    labProgress = new QLabel("labProgress", this);
    labProgress->setFixedWidth(100);
    Place(labProgress, "labProgress", 10, 224);
    labProgress->setFixedWidth(100);
    labProgress->hide();

    bbSaveFile = Place(new QPushButton(QString::fromUtf8(kSaveFile), this), "bbSaveFile", 573, 210, 120, 25);
    bbSaveFile->setProperty("Tag", 0);
    connect(bbSaveFile, &QPushButton::clicked, this, [this] { bbSaveFileClick(); });

    tbMenu = Place(new QToolBar(this), "tbMenu", 655, 3, 35, 25);
    tbMenu->setMovable(false);
    tbMenu->setFloatable(false);
    tbContact = Place(new QToolButton(tbMenu), "tbContact", 0, 0, 35, 25);
    tbContact->setAutoRaise(true); // flat
    tbContact->setToolButtonStyle(Qt::ToolButtonIconOnly);
    tbContact->setText(QString::fromUtf8(kContactUs));
    tbContact->setToolTip(QString::fromUtf8(kContactUs));
    tbContact->setIcon(MakeGlyph(TGlyph::Contact, QSize(20, 20)));
    tbContact->setIconSize(QSize(20, 20));
    tbContact->setCursor(Qt::PointingHandCursor);
    tbContact->installEventFilter(this);

    pmContact = new QMenu(this);
    pmContact->setObjectName("pmContact");
    auto item = [this](const char* name, const char* caption, void (TfrmMain::*handler)()) {
        QAction* action = pmContact->addAction(QString::fromUtf8(caption));
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return action;
    };
    pmOurSite = item("pmOurSite", kOurSite, &TfrmMain::pmOurSiteClick);
    pmEmail = item("pmEmail", kEmail, &TfrmMain::pmEmailClick);
    pmNews = item("pmNews", kNews, &TfrmMain::pmNewsClick);

    CreateMarkEditors();
    AnchorControls();
    CreateOverview();
}

// At the base size every control is at its place; a larger window gives the play screen (and the
// bars) the room, and the controls below it keep their distance to the bottom edge, those on the
// right to the right edge.
void TfrmMain::AnchorControls() {
    FLayout = std::make_unique<TAnchorLayout>(QSize(kBaseWidth, kBaseHeight));
    const std::pair<QWidget*, unsigned> anchors[] = {
        {memPlayScreen, akGrowWidth | akGrowHeight},
        {panInformation, akGrowWidth | akGrowHeight},
        {labStartTime, akBottom},
        {labTimeS, akBottom},
        {labS, akBottom},
        {labTimeE, akBottom},
        {labEndTime, akBottom},
        {labRunTime, akRight | akBottom},
        {labSS, akRight | akBottom},
        {labTotalTime, akRight | akBottom},
        {stbPosition, akGrowWidth | akBottom},
        {bbPlay, akBottom},
        {bbStop, akBottom},
        {bbGotoFirst, akBottom},
        {bbGotoEnd, akBottom},
        {bbCutStartTime, akBottom},
        {bbCutEndTime, akBottom},
        {bbSelectAudio, akBottom},
        {bbDeleteAudio, akBottom},
        {bbPrelisten, akBottom},
        {cbLossless, akBottom},
        {bbAddRemoveFile, akRight | akBottom},
        {Bevel1, akGrowWidth | akBottom},
        {pbProgress, akGrowWidth | akBottom},
        {labProgress, akBottom},
        {bbSaveFile, akRight | akBottom},
        {tbMenu, akRight},
    };
    for (auto [control, anchor] : anchors)
        FLayout->Add(control, anchor);
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (FLayout) FLayout->Apply(size());
    // An open mark editor would stay where its label was.
    MarkEditDone(true, false);
    MarkEditDone(false, false);
    // The supported formats stay in the middle of the information panel.
    labOne->move(kFormatsX + (panInformation->width() - kInformationWidth) / 2, labOne->y());
}
