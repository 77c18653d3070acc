#include "IntegerForm.h"
#include "XmlNodeImpl.h"

namespace kw {
namespace xml {

XmlValue::XmlValue() : PimplBase(new XmlValueImpl(std::string())) {}
XmlValue::XmlValue(const std::string& text) : PimplBase(new XmlValueImpl(text)) {}

const std::string& XmlValue::GetText() const { return holder()->text; }
bool XmlValue::HasValue() const { return static_cast<bool>(holder()->value); }
boost::optional<int> XmlValue::GetValue() const { return holder()->value; }
int XmlValue::GetValue(int defaultValue) const { return holder()->value.value_or(defaultValue); }

void XmlValue::MakeValue() { holder()->value = IntegerForm(holder()->text); }

} // namespace xml
} // namespace kw
