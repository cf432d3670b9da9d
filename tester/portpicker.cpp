#include "tester/portpicker.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QTableWidget>
#include <QVBoxLayout>

QList<PortPicker::Port> PortPicker::systemPorts()
{
    QList<Port> out;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        Port p;
        p.device = info.systemLocation();
        p.description = info.description();
        p.maker = info.manufacturer();
        p.serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            p.usbIds = QStringLiteral("%1:%2")
                           .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                           .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
        out << p;
    }
    return out;
}

PortPicker::PortPicker(int number, const QString& bound, const QString& plain, QWidget* parent)
    : QDialog(parent), plain_(plain)
{
    setObjectName(QStringLiteral("PortPicker"));
    setWindowTitle(QStringLiteral("Choose port %1").arg(number));
    auto* layout = new QVBoxLayout(this);

    const QString now = bound.isEmpty() ? QStringLiteral("Port %1 is %2.").arg(number).arg(plain)
                                        : QStringLiteral("Port %1 is bound to %2.").arg(number).arg(bound);
    auto* intro = new QLabel(now + QStringLiteral(" Pick a serial port, or type a device, to use as port %1 from "
                                                  "now on. The choice is kept for you alone, beside your settings.")
                                       .arg(number),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    table_ = new QTableWidget(0, ColumnCount, this);
    table_->setObjectName(QStringLiteral("PortTable"));
    table_->setAccessibleName(QStringLiteral("Serial ports"));
    table_->setHorizontalHeaderLabels(
        {QStringLiteral("Device"), QStringLiteral("Description"), QStringLiteral("Maker"),
         QStringLiteral("Serial number"), QStringLiteral("USB ids")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setTabKeyNavigation(false);
    layout->addWidget(table_);
    empty_ = new QLabel(QStringLiteral("This machine reports no serial ports. A USB adapter shows here once it is "
                                       "plugged in; a pseudo-terminal can be typed below."),
                        this);
    empty_->setWordWrap(true);
    layout->addWidget(empty_);

    auto* deviceRow = new QHBoxLayout;
    auto* deviceLabel = new QLabel(QStringLiteral("&Device:"), this);
    device_ = new QLineEdit(bound, this);
    device_->setObjectName(QStringLiteral("PortDevice"));
    device_->setPlaceholderText(plain);
    deviceLabel->setBuddy(device_);
    deviceRow->addWidget(deviceLabel);
    deviceRow->addWidget(device_, 1);
    auto* refresh = new QPushButton(QStringLiteral("&Refresh"), this);
    refresh->setAutoDefault(false);
    deviceRow->addWidget(refresh);
    layout->addLayout(deviceRow);

    auto* buttons = new QDialogButtonBox(this);
    bind_ = buttons->addButton(QStringLiteral("&Use this device"), QDialogButtonBox::AcceptRole);
    unbind_ = buttons->addButton(QStringLiteral("Use &%1").arg(plain.isEmpty() ? QStringLiteral("no device") : plain),
                                 QDialogButtonBox::ResetRole);
    unbind_->setObjectName(QStringLiteral("PortUnbind"));
    unbind_->setEnabled(!bound.isEmpty());
    buttons->addButton(QDialogButtonBox::Cancel);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(unbind_, &QPushButton::clicked, this, [this] {
        unbind_requested_ = true;
        accept();
    });
    connect(refresh, &QPushButton::clicked, this, [this] { setPorts(systemPorts()); });
    connect(table_, &QTableWidget::itemSelectionChanged, this, [this] { selectionToBox(); });
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this] {
        selectionToBox();
        accept();
    });
    connect(device_, &QLineEdit::textChanged, this, [this] { showState(); });

    setPorts(systemPorts());
    resize(640, 320);
    device_->setFocus();
}

void PortPicker::setPorts(const QList<Port>& ports)
{
    table_->setRowCount(0);
    for (const Port& p : ports) {
        const int row = table_->rowCount();
        table_->insertRow(row);
        const QString cells[ColumnCount] = {p.device, p.description, p.maker, p.serialNumber, p.usbIds};
        for (int c = 0; c < ColumnCount; ++c)
            table_->setItem(row, c, new QTableWidgetItem(cells[c]));
    }
    table_->resizeColumnsToContents();
    empty_->setVisible(ports.isEmpty());
    showState();
}

void PortPicker::selectionToBox()
{
    const QList<QTableWidgetItem*> picked = table_->selectedItems();
    for (QTableWidgetItem* item : picked)
        if (item->column() == DeviceColumn) {
            device_->setText(item->text());
            return;
        }
}

void PortPicker::showState()
{
    bind_->setEnabled(!device_->text().trimmed().isEmpty());
}

QString PortPicker::chosenDevice() const
{
    return unbind_requested_ ? QString() : device_->text().trimmed();
}
