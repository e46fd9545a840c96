#include "orvuctl/wanted_value.h"

bool TypeWantedValue(const ResolvedName& name, const std::string& text, PlainValue* value,
                     std::string* reason) {
  if (!name.object) {
    size_t colon = text.find(':');
    std::optional<SnmpSyntax> syntax =
        colon == std::string::npos ? std::nullopt : SyntaxOfTypeName(text.substr(0, colon));
    if (!syntax) {
      *reason =
          "no served module defines it: write the value as TYPE:VALUE (INTEGER:5, "
          "OCTET STRING:text, ...)";
      return false;
    }
    ValueShape shape;
    shape.syntax = *syntax;
    return TypeValueText(text.substr(colon + 1), shape, value, reason);
  }
  if (!IsWritable(name.object->access)) {
    *reason = std::string("is ") + AccessText(name.object->access);
    return false;
  }
  return TypeValueText(text, name.object->shape, value, reason);
}
