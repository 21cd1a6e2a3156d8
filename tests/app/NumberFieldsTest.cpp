// The number fields' rules: the scanner, the corrections while typing and at the end of editing,
// and the fields applying them to what the user types.

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>

#include "NumberFields.h"

using numberfield::FieldRule;
using numberfield::NumberKind;
using numberfield::SkipSet;

Q_DECLARE_METATYPE(numberfield::FieldRule)
Q_DECLARE_METATYPE(numberfield::NumberKind)
Q_DECLARE_METATYPE(numberfield::SkipSet)

class NumberFieldsTest : public QObject {
    Q_OBJECT
private slots:
    void scansWholly_data();
    void scansWholly();
    void valueAtStart();
    void typing_data();
    void typing();
    void endOfEditing_data();
    void endOfEditing();
    void correctionsAreStable_data();
    void correctionsAreStable();
    void fieldCorrectsKeystrokes();
    void fieldEndsEditingOnReturnAndFocusLoss();
    void programTextIsNotCorrected();
    void resolutionBoxCorrectsKeystrokes();
};

void NumberFieldsTest::scansWholly_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<NumberKind>("kind");
    QTest::addColumn<SkipSet>("skip");
    QTest::addColumn<bool>("whole");
    const auto I = NumberKind::Int64, D = NumberKind::Double, F = NumberKind::Float;
    const auto W = SkipSet::WhiteSpace, P = SkipSet::Percent;
    QTest::newRow("integer") << "42" << I << W << true;
    QTest::newRow("signed") << "-42" << I << W << true;
    QTest::newRow("plus sign") << "+7" << I << W << true;
    QTest::newRow("white space round it") << "  12 \t" << I << W << true;
    QTest::newRow("sign alone") << "-" << I << W << false;
    QTest::newRow("fraction is not an integer") << "12.5" << I << W << false;
    QTest::newRow("empty") << "" << I << W << false;
    QTest::newRow("huge integer still scans") << "99999999999999999999999" << I << W << true;
    QTest::newRow("double") << "12.5" << D << W << true;
    QTest::newRow("leading point") << ".5" << D << W << true;
    QTest::newRow("trailing point") << "5." << D << W << true;
    QTest::newRow("point alone") << "." << D << W << false;
    QTest::newRow("exponent") << "1.5e-3" << D << W << true;
    QTest::newRow("exponent with plus") << "2E+4" << F << W << true;
    QTest::newRow("e without digits") << "1e" << D << W << false;
    QTest::newRow("inf") << "inf" << D << W << false;
    QTest::newRow("infinity") << "-Infinity" << D << W << false;
    QTest::newRow("nan") << "nan" << D << W << false;
    QTest::newRow("hex integer") << "0x1A" << I << W << false;
    QTest::newRow("hex float") << "0x1p3" << D << W << false;
    QTest::newRow("comma decimal") << "1,5" << D << W << false;
    QTest::newRow("two numbers") << "1 2" << I << W << false;
    QTest::newRow("percent skipped") << "150%" << I << P << true;
    QTest::newRow("percent first") << "%150" << I << P << true;
    QTest::newRow("percent alone") << "%" << I << P << false;
    QTest::newRow("white space not skipped with percent") << " 150" << I << P << false;
    QTest::newRow("arabic-indic digits") << QString::fromUtf8("\u0661\u0662") << I << W << false;
}

void NumberFieldsTest::scansWholly() {
    QFETCH(QString, text);
    QFETCH(NumberKind, kind);
    QFETCH(SkipSet, skip);
    QFETCH(bool, whole);
    QCOMPARE(numberfield::ScansWholly(text, kind, skip), whole);
}

void NumberFieldsTest::valueAtStart() {
    QCOMPARE(numberfield::IntValue(u"12a"), 12);
    QCOMPARE(numberfield::IntValue(u"abc"), 0);
    QCOMPARE(numberfield::IntValue(u"  -3x"), -3);
    QCOMPARE(numberfield::IntValue(u"1.9"), 1);
    QCOMPARE(numberfield::IntValue(u"99999999999"), std::numeric_limits<std::int32_t>::max());
    QCOMPARE(numberfield::IntValue(u"-99999999999"), std::numeric_limits<std::int32_t>::min());
    QCOMPARE(numberfield::LongLongValue(u"-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    QCOMPARE(numberfield::LongLongValue(u"123456789012345678901234"), std::numeric_limits<std::int64_t>::max());
    QCOMPARE(numberfield::DoubleValue(u"12.5.3"), 12.5);
    QCOMPARE(numberfield::DoubleValue(u"1e3x"), 1000.0);
    QCOMPARE(numberfield::DoubleValue(u"-.25"), -0.25);
    QCOMPARE(numberfield::DoubleValue(u"inf"), 0.0);
    QCOMPARE(numberfield::FloatValue(u"0.2x"), 0.2f);
    // Out of range: the largest finite value, or 0; never infinite.
    QCOMPARE(numberfield::DoubleValue(u"1e999"), std::numeric_limits<double>::max());
    QCOMPARE(numberfield::DoubleValue(u"-1e999"), -std::numeric_limits<double>::max());
    QCOMPARE(numberfield::DoubleValue(u"1e-999"), 0.0);
    QCOMPARE(numberfield::FloatValue(u"1e39"), std::numeric_limits<float>::max());
    QCOMPARE(numberfield::DoubleValue(u"0.000000000000000000000000000000001e999"), std::numeric_limits<double>::max());
    QVERIFY(std::isfinite(numberfield::DoubleValue(u"123456789e400")));
}

void NumberFieldsTest::typing_data() {
    QTest::addColumn<FieldRule>("rule");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    // NumberField: width and height.
    QTest::newRow("number keeps a fraction") << FieldRule::Number << "12.5" << "12.5";
    QTest::newRow("number drops a letter") << FieldRule::Number << "12a" << "12";
    QTest::newRow("number keeps a minus while typing") << FieldRule::Number << "-3" << "-3";
    QTest::newRow("number of letters is 0") << FieldRule::Number << "abc" << "0";
    QTest::newRow("negative junk is 0") << FieldRule::Number << "-3x" << "0";
    QTest::newRow("number keeps an empty text") << FieldRule::Number << "" << "";
    QTest::newRow("number lone minus is 0") << FieldRule::Number << "-" << "0";
    QTest::newRow("number keeps an exponent") << FieldRule::Number << "1e3" << "1e3";
    QTest::newRow("number drops an unfinished exponent") << FieldRule::Number << "2.5e" << "2.5";
    QTest::newRow("number never shows infinity") << FieldRule::Number << "1e999x" << "1.7976931348623157e+308";
    // PageCountNumberField: first and last page.
    QTest::newRow("page count empty stays") << FieldRule::PageCount << "" << "";
    QTest::newRow("page count 0x is 1") << FieldRule::PageCount << "0x" << "1";
    QTest::newRow("page count 0 stays while typing") << FieldRule::PageCount << "0" << "0";
    QTest::newRow("page count 7b is 7") << FieldRule::PageCount << "7b" << "7";
    QTest::newRow("page count fraction") << FieldRule::PageCount << "3.5" << "3";
    // ResolutionComboBox.
    QTest::newRow("resolution 300dpi") << FieldRule::Resolution << "300dpi" << "300";
    QTest::newRow("resolution letters") << FieldRule::Resolution << "dpi" << "1";
    QTest::newRow("resolution no upper bound") << FieldRule::Resolution << "99999" << "99999";
    // The further classes.
    QTest::newRow("whole number") << FieldRule::WholeNumber << "-4z" << "0";
    QTest::newRow("whole number 12a") << FieldRule::WholeNumber << "12a" << "12";
    QTest::newRow("zero count keeps 0") << FieldRule::ZeroCount << "0q" << "0";
    QTest::newRow("start digit float") << FieldRule::StartDigit << "2.5k" << "2.5";
    QTest::newRow("start digit negative") << FieldRule::StartDigit << "-1k" << "0";
    QTest::newRow("file size below half") << FieldRule::FileSize << "0.2x" << "0.5";
    QTest::newRow("file size keeps a float") << FieldRule::FileSize << "0.7x" << "0.7";
    QTest::newRow("font size") << FieldRule::FontSize << "0pt" << "1";
    QTest::newRow("rotation") << FieldRule::RotationAngle << "90deg" << "90";
    QTest::newRow("shadow blur") << FieldRule::ShadowBlur << "-2px" << "0";
    QTest::newRow("shadow offset lone minus") << FieldRule::ShadowOffset << "-" << "-";
    QTest::newRow("shadow offset below bound") << FieldRule::ShadowOffset << "-6000x" << "-5000";
    QTest::newRow("shadow offset in bound") << FieldRule::ShadowOffset << "-40x" << "-40";
    QTest::newRow("pdf scale with percent") << FieldRule::PDFScale << "150%" << "150%";
    QTest::newRow("pdf scale percent alone") << FieldRule::PDFScale << "%" << "1";
    QTest::newRow("pdf scale leading blank") << FieldRule::PDFScale << " 150" << "150";
    QTest::newRow("char space") << FieldRule::CharSpace << "0.5em" << "0.5";
    QTest::newRow("scale above bound") << FieldRule::Scale << "9000" << "6400";
    QTest::newRow("scale above bound with percent") << FieldRule::Scale << "6401%" << "6400";
    QTest::newRow("scale at bound") << FieldRule::Scale << "6400" << "6400";
    QTest::newRow("scale zero stays") << FieldRule::Scale << "0" << "0";
    QTest::newRow("scale junk") << FieldRule::Scale << "x" << "1";
    // PageRangeNumberField.
    QTest::newRow("page list stays") << FieldRule::PageRange << "1-3,5" << "1-3,5";
    QTest::newRow("page list drops a letter") << FieldRule::PageRange << "1-3a" << "1-3";
    QTest::newRow("page list double hyphen") << FieldRule::PageRange << "1--" << "1-";
    QTest::newRow("page list double comma") << FieldRule::PageRange << "1,," << "1,";
    QTest::newRow("page list mixed separators") << FieldRule::PageRange << "2-," << "2-";
    QTest::newRow("page list lone hyphen") << FieldRule::PageRange << "-" << "";
    QTest::newRow("page list lone comma") << FieldRule::PageRange << "," << "";
    QTest::newRow("page list letter first") << FieldRule::PageRange << "a1" << "";
    QTest::newRow("page list leading blanks") << FieldRule::PageRange << "  4,6" << "4,6";
}

void NumberFieldsTest::typing() {
    QFETCH(FieldRule, rule);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QCOMPARE(numberfield::FixTypedText(rule, typed), shown);
}

void NumberFieldsTest::endOfEditing_data() {
    QTest::addColumn<FieldRule>("rule");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("number negative") << FieldRule::Number << "-3" << "0";
    QTest::newRow("number positive stays") << FieldRule::Number << "12.50" << "12.50";
    QTest::newRow("number empty stays") << FieldRule::Number << "" << "";
    QTest::newRow("page count empty") << FieldRule::PageCount << "" << "1";
    QTest::newRow("page count zero") << FieldRule::PageCount << "0" << "1";
    QTest::newRow("page count negative") << FieldRule::PageCount << "-4" << "1";
    QTest::newRow("page count stays") << FieldRule::PageCount << "12" << "12";
    QTest::newRow("resolution zero") << FieldRule::Resolution << "0" << "1";
    QTest::newRow("resolution stays") << FieldRule::Resolution << "300" << "300";
    QTest::newRow("whole number") << FieldRule::WholeNumber << "-1" << "0";
    QTest::newRow("zero count") << FieldRule::ZeroCount << "-1" << "0";
    QTest::newRow("start digit") << FieldRule::StartDigit << "-0.5" << "0";
    QTest::newRow("file size below half") << FieldRule::FileSize << "0.3" << "0";
    QTest::newRow("file size stays") << FieldRule::FileSize << "0.5" << "0.5";
    QTest::newRow("font size") << FieldRule::FontSize << "0" << "1";
    QTest::newRow("rotation") << FieldRule::RotationAngle << "-90" << "0";
    QTest::newRow("shadow blur") << FieldRule::ShadowBlur << "-1" << "0";
    QTest::newRow("shadow offset at bound") << FieldRule::ShadowOffset << "-5000" << "-5000";
    QTest::newRow("shadow offset below") << FieldRule::ShadowOffset << "-7000" << "-5000";
    QTest::newRow("shadow offset lone minus") << FieldRule::ShadowOffset << "-" << "-";
    QTest::newRow("pdf scale one") << FieldRule::PDFScale << "1%" << "1";
    QTest::newRow("pdf scale stays") << FieldRule::PDFScale << "150%" << "150%";
    QTest::newRow("char space") << FieldRule::CharSpace << "-0.1" << "0";
    QTest::newRow("scale zero stays") << FieldRule::Scale << "0" << "0";
    QTest::newRow("page list has no end rule") << FieldRule::PageRange << "1-" << "1-";
}

void NumberFieldsTest::endOfEditing() {
    QFETCH(FieldRule, rule);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(numberfield::FixEndedText(rule, text), shown);
}

void NumberFieldsTest::correctionsAreStable_data() {
    QTest::addColumn<FieldRule>("rule");
    QTest::addColumn<QString>("typed");
    const QString samples[] = {"12a", "-3x", "abc", "0x", "1e999x", "0.2x", "9000", "-6000x", "%", "1--", "1e-999z"};
    const std::pair<const char*, FieldRule> rules[] = {
        {"Number", FieldRule::Number},       {"PageCount", FieldRule::PageCount}, {"FileSize", FieldRule::FileSize},
        {"Scale", FieldRule::Scale},         {"ShadowOffset", FieldRule::ShadowOffset},
        {"PDFScale", FieldRule::PDFScale},   {"PageRange", FieldRule::PageRange}, {"StartDigit", FieldRule::StartDigit},
    };
    for (const auto& [name, rule] : rules)
        for (const QString& sample : samples)
            QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(QLatin1String(name), sample))) << rule << sample;
}

void NumberFieldsTest::correctionsAreStable() {
    // A corrected text is one the field accepts as typed: the next keystroke starts from it.
    QFETCH(FieldRule, rule);
    QFETCH(QString, typed);
    const QString once = numberfield::FixTypedText(rule, typed);
    QCOMPARE(numberfield::FixTypedText(rule, once), once);
}

void NumberFieldsTest::fieldCorrectsKeystrokes() {
    NumberField field;
    QSignalSpy changes(&field, &ValidatedNumberField::textDidChange);
    QTest::keyClicks(&field, QStringLiteral("12a"));
    QCOMPARE(field.text(), QStringLiteral("12"));
    // Every report carries the corrected text: the window never sees "12a".
    QCOMPARE(changes.count(), 3);
    QCOMPARE(changes.at(0).at(0).toString(), QStringLiteral("1"));
    QCOMPARE(changes.at(1).at(0).toString(), QStringLiteral("12"));
    QCOMPARE(changes.at(2).at(0).toString(), QStringLiteral("12"));
    QTest::keyClicks(&field, QStringLiteral(".5"));
    QCOMPARE(field.text(), QStringLiteral("12.5"));
    QCOMPARE(field.doubleValue(), 12.5);

    PageCountNumberField page;
    QTest::keyClicks(&page, QStringLiteral("0x"));
    QCOMPARE(page.text(), QStringLiteral("1"));
    QTest::keyClick(&page, Qt::Key_Backspace);
    QCOMPARE(page.text(), QString());
}

void NumberFieldsTest::fieldEndsEditingOnReturnAndFocusLoss() {
    QWidget window;
    auto* number = new NumberField(&window);
    auto* page = new PageCountNumberField(&window);
    auto* other = new QLineEdit(&window);
    number->move(0, 0);
    page->move(0, 40);
    other->move(0, 80);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    QSignalSpy ended(number, &ValidatedNumberField::textDidEndEditing);
    number->setFocus();
    // A negative number arrives whole (pasted): it is kept until the editing ends.
    QApplication::clipboard()->setText(QStringLiteral("-3"));
    QTest::keyClick(number, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(number->text(), QStringLiteral("-3"));
    QTest::keyClick(number, Qt::Key_Return);
    QCOMPARE(number->text(), QStringLiteral("0"));
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended.at(0).at(0).toString(), QStringLiteral("0"));

    page->setFocus();
    QTRY_VERIFY(page->hasFocus());
    QTest::keyClick(page, Qt::Key_Backspace);
    other->setFocus();
    QTRY_VERIFY(other->hasFocus());
    // An emptied page field becomes 1 when the editing ends.
    QCOMPARE(page->text(), QStringLiteral("1"));
}

void NumberFieldsTest::programTextIsNotCorrected() {
    NumberField field;
    QSignalSpy changes(&field, &ValidatedNumberField::textDidChange);
    field.setText(QStringLiteral("12a"));
    QCOMPARE(field.text(), QStringLiteral("12a"));
    QCOMPARE(changes.count(), 0);
    field.setDoubleValue(0.1);
    QCOMPARE(field.text(), QStringLiteral("0.1"));
}

void NumberFieldsTest::resolutionBoxCorrectsKeystrokes() {
    ResolutionComboBox box;
    QCOMPARE(box.currentText(), QStringLiteral("200"));
    QSignalSpy changes(&box, &ValidatedNumberComboBox::textDidChange);
    box.lineEdit()->clear();
    QTest::keyClicks(&box, QStringLiteral("300dpi"));
    QCOMPARE(box.currentText(), QStringLiteral("300"));
    QCOMPARE(changes.last().at(0).toString(), QStringLiteral("300"));
    box.setEditText(QStringLiteral("0"));
    box.endEditing();
    QCOMPARE(box.currentText(), QStringLiteral("1"));
    QCOMPARE(box.integerValue(), 1);
    // Nothing typed is added to the list.
    QCOMPARE(box.count(), 7);
}

QTEST_MAIN(NumberFieldsTest)
#include "NumberFieldsTest.moc"
