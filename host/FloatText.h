#pragma once
// Decimal text of floating-point values, shared by FloatToStr and Format
// inside the host layer. Independent of the C locale: the decimal separator
// is passed in.

#include <string>

namespace orvex::floattext {

// Shortest form with at most `precision` significant digits: fixed notation
// while the value has no more than `precision` digits before the point and is
// at least 0.0001, otherwise "d.dddE[-]x" with at least `expDigits` exponent
// digits. Trailing zeros are dropped.
std::string General(double value, int precision, int expDigits, char decimalSep);

// "-d.ddd...E+xxx": `precision` significant digits, the exponent always signed
// and at least `expDigits` digits long.
std::string Exponent(double value, int precision, int expDigits, char decimalSep);

// "-ddd.ddd" with `decimals` digits after the point; thousands grouped with
// `thousandSep` unless it is '\0'. Values of more than 18 integer digits fall
// back to the general form.
std::string Fixed(double value, int decimals, char decimalSep, char thousandSep);

// The infinities and NaN as the framework writes them ("INF", "-INF", "NAN");
// empty for finite values.
std::string Special(double value);

} // namespace orvex::floattext
