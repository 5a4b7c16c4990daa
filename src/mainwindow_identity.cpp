// MainWindow: the aircraft identity fields of the Settings tab. The
// registration is edited as a nationality prefix from a fixed list plus a
// free-text number and travels as three words of four characters; the ICAO
// address is edited as hexadecimal text.

#include "mainwindow.h"

#include <cstring>

#include <QDebug>
#include <QRegularExpression>

#include "registration_prefix.h"
#include "ui_mainwindow.h"

namespace {

// The unit's registration holds at most 11 characters; the last byte is 0.
const int kRegistrationTextMax = SETTINGS_REGISTRATION_LEN - 1;
// A registration that no prefix fits shows this many characters, after "N".
const int kUnprefixedNumberShown = 10;
const char kUnencodable = '?';
const int kFirstPrefixItem = 0;
const uint32_t kIcaoAddressMask = 0xFFFFFF;
const int kIcaoDigits = 6;

enum IcaoAddressType {
    ICAO_ADDRESS_OWN = 0,
    ICAO_ADDRESS_RANDOM = 1,
};

// The characters before the first byte that is 0 (end of text) or 0xFF
// (erased memory). An erased registration therefore has none.
int registration_length(const uint8_t* bytes)
{
    int length = 0;
    while (length < kRegistrationTextMax && bytes[length] != 0x00 && bytes[length] != 0xFF)
        length++;
    return length;
}

// The first 11 characters as Latin-1; a character outside it becomes a
// question mark.
QByteArray registration_latin1(const QString& text)
{
    QByteArray bytes;
    for (const uint character : text.toUcs4()) {
        if (bytes.size() == kRegistrationTextMax)
            break;
        bytes.append(character <= 0xFF ? static_cast<char>(character) : kUnencodable);
    }
    return bytes;
}

} // namespace

// ---- Registration ------------------------------------------------------------

void MainWindow::showRegistration()
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(user_config.registration);
    const int length = registration_length(bytes);
    if (length == 0) {
        selectRegistration(kFirstPrefixItem, QString());
        return;
    }
    const QString full = QString::fromLatin1(user_config.registration, length);
    qDebug().noquote() << "Created string:" << full;
    const int position = registration_prefix_position(full);
    const QString prefix = position >= 0 ? QString::fromLatin1(REGISTRATION_PREFIXES[position]) : QString();
    qDebug().noquote() << "Found prefix:" << prefix;
    if (position >= 0)
        selectRegistration(position, full.mid(prefix.size()));
    else
        selectRegistration(kFirstPrefixItem, full.left(kUnprefixedNumberShown));
}

// The list holds the prefix table in its order, so a table position is also
// the first list item with that text.
void MainWindow::selectRegistration(int prefixPosition, const QString& number)
{
    ui->comboBox_reg_prefix->setCurrentIndex(prefixPosition);
    ui->text_registration_num->setPlainText(number);
}

// Prefix and number joined as typed. With no number there is no
// registration, whatever the prefix.
MainWindow::RegistrationBytes MainWindow::registrationFromWidgets() const
{
    RegistrationBytes bytes{};
    const QString number = ui->text_registration_num->toPlainText();
    if (number.isEmpty())
        return bytes;
    const QByteArray text = registration_latin1(ui->comboBox_reg_prefix->currentText() + number);
    memcpy(bytes.data(), text.constData(), static_cast<size_t>(text.size()));
    return bytes;
}

// Four characters a word, the first in the most significant byte.
std::array<uint32_t, 3> MainWindow::registrationWords(const RegistrationBytes& bytes)
{
    std::array<uint32_t, 3> words{};
    for (size_t i = 0; i < words.size(); i++) {
        const uint8_t* group = &bytes[4 * i];
        words[i] = static_cast<uint32_t>(group[0]) << 24 | static_cast<uint32_t>(group[1]) << 16
                   | static_cast<uint32_t>(group[2]) << 8 | group[3];
    }
    return words;
}

void MainWindow::onRegistrationChanged()
{
    const std::array<uint32_t, 3> words = registrationWords(registrationFromWidgets());
    for (size_t i = 0; i < words.size(); i++)
        updateConfigValueLocal(static_cast<settings_struct_index>(REGISTRATION_1_INDEX + i), words[i]);
}

// ---- ICAO address, address type, emitter category ----------------------------

// The ICAO field, then the category, then the address type. A category
// beyond the list shows as its nearest end.
void MainWindow::showIdentity()
{
    const uint32_t address = user_config.ownship_icao & kIcaoAddressMask;
    ui->text_icao->setPlainText(QStringLiteral("%1").arg(address, kIcaoDigits, 16, QLatin1Char('0')).toUpper());
    const int lastCategory = ui->comboBox_emitter_cat->count() - 1;
    ui->comboBox_emitter_cat->setCurrentIndex(qBound(0, static_cast<int>(user_config.emitter_cat), lastCategory));
    QRadioButton* selected = user_config.icao_address_type == ICAO_ADDRESS_RANDOM ? ui->radioButton_rand_icao
                                                                                    : ui->radioButton_use_icao;
    selected->setChecked(true);
}

// Text of hexadecimal digits only is read as hexadecimal (decimal digits
// alone included); anything else as decimal. Text that does not parse gives
// 0, as does an empty field.
uint32_t MainWindow::ownshipIcaoFromIcaoField() const
{
    static const QRegularExpression hexadecimalDigits(QStringLiteral("^[\\da-fA-F]+$"));
    const QString text = ui->text_icao->toPlainText().trimmed();
    if (text.isEmpty())
        return 0;
    const int base = hexadecimalDigits.match(text).hasMatch() ? 16 : 10;
    bool parsed = false;
    const uint32_t address = text.toUInt(&parsed, base);
    return parsed ? address & kIcaoAddressMask : 0;
}

uint32_t MainWindow::icaoAddressTypeFromWidgets() const
{
    return ui->radioButton_rand_icao->isChecked() ? ICAO_ADDRESS_RANDOM : ICAO_ADDRESS_OWN;
}

void MainWindow::onOwnshipIcaoChanged()
{
    updateConfigValueLocal(OWNSHIP_ICAO_INDEX, ownshipIcaoFromIcaoField());
}

// Switching with the mouse runs this twice, once per button; both runs read
// the same final state.
void MainWindow::onIcaoAddressTypeChanged()
{
    updateConfigValueLocal(ICAO_ADDR_TYPE_INDEX, icaoAddressTypeFromWidgets());
}

void MainWindow::onEmitterCatChanged(int index)
{
    updateConfigValueLocal(EMITTER_CAT_INDEX, static_cast<uint32_t>(index));
}
