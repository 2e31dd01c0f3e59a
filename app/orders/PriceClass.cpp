#include "app/orders/PriceClass.h"

#include <cctype>

#include "platform/ui/Image.h"
#include "platform/ui/NumberPad.h"

namespace orvo {

namespace {

// A decimal text rounded half to even to at most `decimals` places; nothing when the
// text is not a decimal number.
struct Decimal {
  bool negative = false;
  std::string whole;     // digits, no leading zeros ("0" for zero)
  std::string fraction;  // exactly `decimals` digits
};

std::optional<Decimal> roundDecimal(const std::string& text, size_t decimals) {
  std::string t = text.empty() ? "0" : text;
  size_t i = 0;
  Decimal d;
  if (t[i] == '+' || t[i] == '-') d.negative = t[i++] == '-';
  std::string whole, fraction;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) whole += t[i++];
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) fraction += t[i++];
  }
  if (i != t.size() || (whole.empty() && fraction.empty())) return std::nullopt;
  if (whole.empty()) whole.push_back('0');
  // Round: digits kept, then the first dropped digit and whether anything follows it.
  std::string digits = whole + fraction.substr(0, std::min(decimals, fraction.size()));
  digits.append(decimals - std::min(decimals, fraction.size()), '0');
  bool roundUp = false;
  if (fraction.size() > decimals) {
    char first = fraction[decimals];
    bool rest = fraction.find_first_not_of('0', decimals + 1) != std::string::npos;
    int last = digits.back() - '0';
    roundUp = first > '5' || (first == '5' && (rest || last % 2 == 1));
  }
  if (roundUp) {
    size_t k = digits.size();
    while (k > 0) {
      if (digits[k - 1] == '9') {
        digits[k - 1] = '0';
        --k;
      } else {
        ++digits[k - 1];
        break;
      }
    }
    if (k == 0) digits.insert(digits.begin(), '1');
  }
  d.whole = digits.substr(0, digits.size() - decimals);
  d.fraction = digits.substr(digits.size() - decimals);
  size_t nz = d.whole.find_first_not_of('0');
  d.whole = nz == std::string::npos ? "0" : d.whole.substr(nz);
  if (d.whole == "0" && d.fraction.find_first_not_of('0') == std::string::npos) d.negative = false;
  return d;
}

std::string grouped(const std::string& whole) {
  std::string out;
  for (size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) out += ',';
    out += whole[i];
  }
  return out;
}

}  // namespace

std::optional<long long> decimalToCents(const std::string& number) {
  auto d = roundDecimal(number, 2);
  if (!d || d->whole.size() > 15) return std::nullopt;
  const long long cents = std::stoll(d->whole) * 100 + std::stoll(d->fraction);
  return d->negative ? -cents : cents;
}

std::string centsToDecimal(long long cents) {
  const bool negative = cents < 0;
  const unsigned long long a = negative ? 0ULL - static_cast<unsigned long long>(cents) : static_cast<unsigned long long>(cents);
  std::string fraction = std::to_string(a % 100);
  if (fraction.size() < 2) fraction.insert(fraction.begin(), '0');
  std::string out;
  if (negative) out += '-';
  out += std::to_string(a / 100);
  out += '.';
  out += fraction;
  return out;
}

std::string PriceClass::stringToCurrency(const std::string& number) {
  auto d = roundDecimal(number, 2);
  if (!d) return "NaN";
  return (d->negative ? "-$" : "$") + grouped(d->whole) + "." + d->fraction;
}

std::string PriceClass::stringToComma(const std::string& number) {
  auto d = roundDecimal(number, 3);
  if (!d) return "NaN";
  std::string fraction = d->fraction;
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  // Built piece by piece: GCC 12 reports false overlaps for literal + temporary at -O3.
  std::string out;
  if (d->negative) out += '-';
  out += grouped(d->whole);
  if (!fraction.empty()) {
    out += '.';
    out += fraction;
  }
  return out;
}

void PriceClass::SetStyledDiscountPrice(ui::Label& label, const std::string& price, const std::string& orgPrice) {
  if (orgPrice == price) return;
  label.setAttributedText({{"$" + orgPrice, ui::Color::darkGray(), std::nullopt, true},
                           {" ", std::nullopt, std::nullopt, false},
                           {"$" + price, ui::Color::red(), std::nullopt, false}});
}

std::optional<std::vector<ui::TextRun>> PriceClass::GetTableCellStyledDiscountPrice(
    const std::string& price, const std::string& orgPrice, const std::string& extPrice,
    const std::string& sizeOrBundleCode, bool isBundle) {
  if (orgPrice == price) return std::nullopt;
  return std::vector<ui::TextRun>{
      {"Unit Price:", std::nullopt, std::nullopt, false},
      {"$" + orgPrice, ui::Color::darkGray(), std::nullopt, true},
      {" ", std::nullopt, std::nullopt, false},
      {"$" + price, ui::Color::red(), std::nullopt, false},
      {" | Ext.Price:$" + extPrice + (isBundle ? " | Bundle:" : " | SizeCode:") + sizeOrBundleCode, std::nullopt,
       std::nullopt, false}};
}

std::shared_ptr<ui::TextField> CustomKeyboardClass::SetNumberPadWithCameraScan(std::weak_ptr<CameraScanTarget> target,
                                                                               std::shared_ptr<ui::TextField> field,
                                                                               bool withCameraScan) {
  auto pad = std::make_shared<ui::NumberPad>();
  if (withCameraScan) {
    if (auto camera = ui::Image::named("key-camera-70.png")) pad->functionButton().setImage(camera);
    pad->onFunctionKey = [target](ui::NumberPad&, ui::TextInput*) {
      if (auto t = target.lock()) t->OpenCameraScanView();
    };
  }
  if (auto clear = ui::Image::named("key-clear-60.png")) {
    // The picture replaces the pad's own clear glyph; one key shows one sign.
    pad->clearButton().setImage(clear);
    pad->clearButton().setTitle("");
  }
  field->setInputView(pad);
  return field;
}

}  // namespace orvo
