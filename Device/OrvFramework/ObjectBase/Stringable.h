#pragma once
// IStringable: an object that describes itself as a wide string. The root of the counted objects'
// interface chain, also implemented outside it (values, named threads).

namespace Orv {

template <class Char, class OtherChar>
class StringT;

class IStringable
{
public:
    virtual StringT<char16_t, char> ToString() const = 0;

protected:
    ~IStringable() = default;
};

}  // namespace Orv
