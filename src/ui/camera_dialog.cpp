#include "ui/camera_dialog.h"

#include <QCheckBox>
#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include <cstring>

#include "core/registry.h"
#include "core/save_request.h"
#include "recording/mjpeg_params.h"
#include "ui/dialog_units.h"
#include "ui/main_menu.h"

namespace {

// The quality field as an unsigned number (an empty field reads as 0);
// 0 also for a number too large to read.
uint64_t ReadUnsigned(const QString& text) {
    bool ok = false;
    const qulonglong value = text.trimmed().toULongLong(&ok);
    return ok ? value : 0;
}

}  // namespace

// The dialog window; the working values live here while it is open.
class CameraDialogWindow final : public QDialog {
public:
    CameraDialogWindow(CameraDialog& owner, QWidget* parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The groups of the constructor, in their order of creation.
    void BuildQualityAndStamp(const DialogUnits& units);
    void BuildOrientationLists(const DialogUnits& units);
    void BuildCameraList(const DialogUnits& units);
    QListWidget* List(const char* id, QRect geometry);
    QLabel* Label(const char* id, const QString& text, QRect geometry);
    void Accept();

    CameraDialog& owner_;
    Registry& registry_;
    int32_t quality_ = 0;
    int32_t resolution_ = 0;
    int32_t reflect_ = 0;
    int32_t rotate_ = 0;
    int32_t initialResolution_ = 0;
    int32_t initialReflect_ = 0;
    int32_t initialRotate_ = 0;
    char selectedId_[Registry::kBufferSize] = {};
    char initialId_[Registry::kBufferSize] = {};
    int32_t stampChecked_ = 0;
    QLineEdit* qualityField_ = nullptr;
};

QListWidget* CameraDialogWindow::List(const char* id, QRect geometry) {
    auto* list = new QListWidget(this);
    list->setObjectName(QString::fromLatin1(id));
    list->setGeometry(geometry);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    return list;
}

QLabel* CameraDialogWindow::Label(const char* id, const QString& text, QRect geometry) {
    auto* label = new QLabel(text, this);
    if (id) label->setObjectName(QString::fromLatin1(id));
    label->setGeometry(geometry);
    return label;
}

CameraDialogWindow::CameraDialogWindow(CameraDialog& owner, QWidget* parent)
    : QDialog(parent), owner_(owner), registry_(owner.registry_) {
    setObjectName(QStringLiteral("dlgdevice"));
    const DialogUnits units(*this);
    setFixedSize(units.Size(240, 213));

    BuildQualityAndStamp(units);

    // 4. Labels.
    Label("id103", UiText(registry_, "Select"), units.Rect(8, 3, 135, 8));
    Label("id104", UiText(registry_, "Resolution"), units.Rect(162, 3, 73, 8));
    Label("id107", UiText(registry_, "GroupReflect"), units.Rect(8, 67, 123, 8));
    Label("id132", UiText(registry_, "GroupRotate"), units.Rect(160, 67, 75, 8));

    // 5. Sizes.
    QListWidget* sizes = List("id204", units.Rect(160, 13, 75, 40));
    // In the order of the "VideoResolution" values.
    for (const char* key : {"ResolutionDefault", "Resolution640", "Resolution320", "Resolution160", "Resolution1280",
                            "Resolution1920"})
        sizes->addItem(UiText(registry_, key));
    resolution_ = initialResolution_ = registry_.IntInRange("VideoResolution", 0, 0, 5);
    sizes->setCurrentRow(resolution_);

    // 6. The stored camera.
    registry_.GetText("VideoDeviceId", selectedId_);

    BuildOrientationLists(units);

    BuildCameraList(units);

    // 10, 11.
    std::memcpy(initialId_, selectedId_, sizeof initialId_);
    auto* memo = Label("id417", UiMemo(registry_, 6), units.Rect(9, 141, 226, 36));
    memo->setWordWrap(true);
    memo->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    // Only a user's choice changes the working values, not the filling above.
    connect(sizes, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0) resolution_ = row;
    });
}

void CameraDialogWindow::BuildQualityAndStamp(const DialogUnits& units) {
    // 1. The quality being edited, from the shared recording values.
    quality_ = owner_.mjpegParams_ ? owner_.mjpegParams_->quality.load(std::memory_order_relaxed)
                                   : CameraDialog::kDefaultQuality;
    qualityField_ = new QLineEdit(QString::number(static_cast<uint32_t>(quality_)), this);
    qualityField_->setObjectName(QStringLiteral("id409"));
    qualityField_->setGeometry(units.Rect(32, 182, 26, 12));
    qualityField_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,9}")), qualityField_));
    qualityField_->installEventFilter(this);
    Label(nullptr, QStringLiteral("JPEG:"), units.Rect(9, 186, 21, 8));

    // 2. Caption, stamp box and buttons.
    setWindowTitle(UiText(registry_, "CaptionOptionsCam"));
    // A language without this text still labels the box.
    QString stampText = UiText(registry_, "DateTimeCam");
    if (stampText.isEmpty()) stampText = QStringLiteral("Date and time");
    auto* stamp = new QCheckBox(stampText, this);
    stamp->setObjectName(QStringLiteral("id217"));
    stamp->setGeometry(units.Rect(2, 202, 116, 8).adjusted(0, -2, 0, 2));
    auto* accept = new QPushButton(UiText(registry_, "Accept"), this);
    accept->setObjectName(QStringLiteral("id1"));
    accept->setGeometry(units.Rect(127, 196, 50, 14));
    accept->setDefault(true);
    auto* cancel = new QPushButton(UiText(registry_, "Cancel"), this);
    cancel->setObjectName(QStringLiteral("id2"));
    cancel->setGeometry(units.Rect(185, 194, 50, 16));
    cancel->setAutoDefault(false);
    connect(accept, &QPushButton::clicked, this, &CameraDialogWindow::Accept);
    connect(cancel, &QPushButton::clicked, this, [this] { done(0); });

    // 3. The stamp switch as it stands now.
    owner_.stampSwitch_ = registry_.IntInRange("VideoDateTime", 1, 0, 1);
    stamp->setChecked(owner_.stampSwitch_ != 0);
    stampChecked_ = owner_.stampSwitch_;
    connect(stamp, &QCheckBox::toggled, this, [this](bool on) { stampChecked_ = on ? 1 : 0; });
}

void CameraDialogWindow::BuildOrientationLists(const DialogUnits& units) {
    // 7, 8. Reflection and rotation.
    QListWidget* reflections = List("id130", units.Rect(2, 78, 121, 60));
    reflect_ = initialReflect_ = registry_.IntInRange("VideoReflect", 0, 0, 2);
    for (const char* key : {"ItemReflectNo", "ItemReflectRL", "ItemReflectTD"}) reflections->addItem(UiText(registry_, key));
    reflections->setCurrentRow(reflect_);
    QListWidget* rotations = List("id131", units.Rect(160, 78, 76, 60));
    rotate_ = initialRotate_ = registry_.IntInRange("VideoRotate", 0, 0, 3);
    for (const char* key : {"ItemRotateNo", "ItemRotate90", "ItemRotate180", "ItemRotate270"})
        rotations->addItem(UiText(registry_, key));
    rotations->setCurrentRow(rotate_);
    connect(reflections, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0) reflect_ = row;
    });
    connect(rotations, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0) rotate_ = row;
    });
}

void CameraDialogWindow::BuildCameraList(const DialogUnits& units) {
    // 9. The cameras; the stored one highlighted, or "Default" when it is absent.
    DeviceList& devices = *owner_.devices_;
    std::memset(&devices, 0, sizeof devices);
    if (owner_.capture_) {
        owner_.capture_->ListDevices(devices);
    } else {
        std::strcpy(devices.entries[0].name, "Default");
        std::strcpy(devices.entries[0].identifier, "Default");
        devices.count = 1;
    }
    devices.count = std::clamp<int32_t>(devices.count, 0, DeviceList::kCapacity);
    QListWidget* cameras = List("id201", units.Rect(2, 13, 121, 40));
    devices.selected = 0;
    for (int i = 0; i < devices.count; ++i) {
        cameras->addItem(QString::fromUtf8(devices.entries[i].name));
        if (std::strcmp(devices.entries[i].identifier, selectedId_) == 0) devices.selected = i;
    }
    if (devices.count > 0) cameras->setCurrentRow(devices.selected);
    connect(cameras, &QListWidget::currentRowChanged, this, [this](int row) {
        DeviceList& list = *owner_.devices_;
        if (row < 0 || row >= list.count) return;
        list.selected = row;
        std::memcpy(selectedId_, list.entries[row].identifier, sizeof list.entries[row].identifier);
        selectedId_[sizeof list.entries[row].identifier - 1] = '\0';
    });
}

bool CameraDialogWindow::eventFilter(QObject* watched, QEvent* event) {
    // The typed number counts once the field is left, not while it has the focus.
    if (watched == qualityField_ && event->type() == QEvent::FocusOut && result() == 0 && isVisible()) {
        const uint64_t value = ReadUnsigned(qualityField_->text());
        if (value < 1 || value > 100) {
            quality_ = CameraDialog::kDefaultQuality;
            qualityField_->setText(QString::number(quality_));
        } else {
            quality_ = static_cast<int32_t>(value);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CameraDialogWindow::Accept() {
    int bits = 0;
    if (resolution_ != initialResolution_) {
        registry_.SetInt("VideoResolution", resolution_);
        bits |= CameraDialog::kDeviceChanged;
    }
    if (std::strcmp(selectedId_, initialId_) != 0) {
        registry_.SetText("VideoDeviceId", static_cast<const char*>(selectedId_));
        bits |= CameraDialog::kDeviceChanged;
    }
    if (rotate_ != initialRotate_) {
        registry_.SetInt("VideoRotate", rotate_);
        bits |= CameraDialog::kOrientationChanged;
    }
    if (reflect_ != initialReflect_) {
        registry_.SetInt("VideoReflect", reflect_);
        bits |= CameraDialog::kOrientationChanged;
    }
    MjpegParams* params = owner_.mjpegParams_;
    if (params && quality_ != params->quality.load(std::memory_order_relaxed)) {
        params->quality.store(quality_, std::memory_order_relaxed);
        registry_.SetInt("JpegQuality", quality_);
        bits |= CameraDialog::kQualityChanged;
    }
    if (stampChecked_ != owner_.stampSwitch_) {
        owner_.stampSwitch_ = stampChecked_;
        registry_.SetInt("VideoDateTime", owner_.stampSwitch_);
        bits |= CameraDialog::kStampChanged;
    }
    if (bits != 0) {
        SaveRequest::SaveNowFor(registry_);
    }
    done(bits);
}

CameraDialog::CameraDialog(Registry& registry)
    : registry_(registry),
      mjpegParams_(registry.Find<MjpegParams>("_MJPEG_PARAMS")),
      capture_(registry.Find<VideoCapture>("_VideoCapture")),
      devices_(std::make_unique<DeviceList>()) {
    registry_.SetTextIfAbsent("VideoDeviceId", "Default");
    registry_.IntInRange("VideoResolution", 0, 0, 5);
    registry_.IntInRange("VideoReflect", 0, 0, 2);
    registry_.IntInRange("VideoRotate", 0, 0, 3);
    registry_.IntInRange("VideoDateTime", 1, 0, 1);
    const int32_t quality = registry_.IntInRange("JpegQuality", kDefaultQuality, 1, 100);
    if (mjpegParams_) mjpegParams_->quality.store(quality, std::memory_order_relaxed);
    stampSwitch_ = registry_.IntInRange("VideoDateTime", 1, 0, 1);
}

CameraDialog::~CameraDialog() = default;

int CameraDialog::Run(QWidget* parent) {
    CameraDialogWindow window(*this, parent);
    return MainMenu::RunModal(window);
}
