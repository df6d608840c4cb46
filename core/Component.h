#pragma once
// The component model every persistent object is built on: an owner that owns its ordered children,
// names unique among siblings, a streaming state, and published properties described by per-class
// tables (declaration order, base class first) that the stream writer, the stream reader, the
// property dialogs and the description export all walk the same way.

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <concepts>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

namespace vexa {

class TPersistent;
class TComponent;
class TTextList;

// Raised when a component would get a sibling's name.
class EComponentError : public std::runtime_error {
 public:
  explicit EComponentError(const QString& message);
  QString Message() const { return QString::fromUtf8(what()); }
};

enum class TPropKind {
  Integer,      // qint64 in the variant
  Colour,       // integer written as a colour name when it has one
  Charset,      // integer written as a charset name when it has one
  Enumeration,  // int index into Names
  Boolean,      // bool
  Float,        // double
  DateTime,     // double, days since 30 Dec 1899
  String,       // QString
  StringList,   // QStringList, streamed as Name.Strings
  Set,          // quint32 bit mask over Names
  Reference,    // QString component name, or an invalid variant for nil / a view link
  Object,       // nested persistent object, its properties streamed as Name.Sub
};

struct TPropInfo {
  QString Name;
  TPropKind Kind = TPropKind::Integer;
  // Declared default of an ordinal property (integer, colour, charset, enumeration, Boolean, set);
  // empty when the property is declared without one and therefore always stored.
  std::optional<qint64> Default;
  // Identifiers of an enumeration or the elements of a set, in declaration order.
  QStringList Names;
  std::function<QVariant(const TPersistent&)> Get;
  // The same value without a variant, for the stream writer, which reads every property of every
  // node of a tree: set by Props when the getter returns a plain number or a Boolean (GetInteger,
  // GetFloat), or a text or a text list it holds (GetText, GetLines: the object's own, valid while
  // it is); empty otherwise, and Get serves.
  std::function<qint64(const TPersistent&)> GetInteger;
  std::function<double(const TPersistent&)> GetFloat;
  std::function<const QString*(const TPersistent&)> GetText;
  std::function<const TTextList*(const TPersistent&)> GetLines;
  // Empty for a read-only property: never streamed, never assigned.
  std::function<void(TPersistent&, const QVariant&)> Set;
  // Kind Object: the nested object of a given instance.
  std::function<TPersistent*(TPersistent&)> Nested;
  // What a stored value may be, checked wherever one is read (a stream, a text): an integer or a
  // character set from Min to Max, a string list of at most Max lines. A colour is always one of
  // 0 to 0xFFFFFF or a named colour. Narrowed by the class's table to what its windows allow and
  // its code can take, so that no file makes the program format, allocate or wait without bound.
  qint64 Min = INT32_MIN;
  qint64 Max = INT32_MAX;
  // A float or a date-time: a finite number from FloatMin to FloatMax. Every one is finite unless
  // its table narrows it further; NaN and the infinities are never stored.
  double FloatMin = std::numeric_limits<double>::lowest();
  double FloatMax = std::numeric_limits<double>::max();

  bool ReadOnly() const { return !Set; }
  // The table entry with its range, e.g. P::Int("Digits", ...).Within(0, 15): integral bounds
  // (integers or enumerators) for an integer or a character set.
  template <class A, class B>
  requires(std::is_integral_v<A> || std::is_enum_v<A>) &&
      (std::is_integral_v<B> || std::is_enum_v<B>)TPropInfo Within(A min, B max) && {
    Min = min;
    Max = max;
    return std::move(*this);
  }
  // Floating bounds for a float or a date-time, e.g. P::Float("YScale", ...).Within(1.0 / 64, 1024.0);
  // a date-time's dates are best bounded by RealDates(). Both bounds floating, so that a range
  // never lands on the wrong kind's fields by a conversion.
  template <std::floating_point A, std::floating_point B>
  TPropInfo Within(A min, B max) && {
    FloatMin = min;
    FloatMax = max;
    return std::move(*this);
  }
  TPropInfo AtMostLines(qint64 max) && {
    Min = 0;
    Max = max;
    return std::move(*this);
  }  // A string list whose every line is a point in time (a register's history times) in the
  // objects `of` tells: a real date from 01.01.1900 to 31.12.9999, with or without a time of day,
  // as StrToDateTime reads it. Empty for any other list.
  std::function<bool(const TPersistent&)> DateLines;
  TPropInfo LinesAreDates(std::function<bool(const TPersistent&)> of) && {
    DateLines = std::move(of);
    return std::move(*this);
  }
  // A date-time that is a point in time the program shows and computes with: a day from
  // 01.01.1900 to 31.12.9999 (a duration kept as a date-time is bounded by Within instead).
  TPropInfo RealDates() &&;
};

// The first and the last day a stored point in time may fall on, in days since 30.12.1899.
inline constexpr double kFirstStoredDay = 2;       // 01.01.1900
inline constexpr double kLastStoredDay = 2958465;  // 31.12.9999

struct TClassInfo {
  TClassInfo(QString name, const TClassInfo* parent, std::function<TComponent*(TComponent*)> create,
             std::vector<TPropInfo> own)
      : Name(std::move(name)), Parent(parent), Create(std::move(create)), Own(std::move(own)) {}

  QString Name;
  const TClassInfo* Parent = nullptr;
  // Creates an instance owned by owner (or ownerless, returned to the caller, when owner is null).
  std::function<TComponent*(TComponent* owner)> Create;
  std::vector<TPropInfo> Own;  // properties this class declares

  // Every published property, base class first, in declaration order.
  const std::vector<const TPropInfo*>& Properties() const;
  const TPropInfo* FindProperty(const QString& name) const;
  bool InheritsFrom(const TClassInfo& other) const;

 private:
  mutable std::vector<const TPropInfo*> all_;
  mutable QHash<QString, const TPropInfo*> byName_;  // a stream reader looks up every record's name
  mutable bool built_ = false;
};

// Registered persistent classes, found by their streamed class name.
class TClassRegistry {
 public:
  static void Register(const TClassInfo& info);
  static const TClassInfo* Find(const QString& name);
};

class TPersistent {
 public:
  TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;
  virtual ~TPersistent() = default;

  virtual const TClassInfo& ClassInfo() const = 0;
  QString ClassName() const { return ClassInfo().Name; }
};

enum TComponentStateFlag : unsigned {
  csLoading = 1,
  csReading = 2,
  csWriting = 4,
  csDestroying = 8,
};

class TComponent : public TPersistent {
 public:
  // Joins owner's children (owner then owns it); a null owner leaves it for the caller to hold.
  explicit TComponent(TComponent* owner);
  ~TComponent() override;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  const QString& Name() const { return name_; }
  // Raises EComponentError when a sibling already has the name (names compare exactly).
  void SetName(const QString& name);

  int Tag() const { return tag_; }
  void SetTag(int tag) { tag_ = tag; }

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(children_.size()); }
  TComponent* Component(int index) const { return children_.at(static_cast<size_t>(index)); }
  // Position among the owner's children, -1 without an owner.
  int ComponentIndex() const;
  TComponent* FindComponent(const QString& name) const;

  // Moves an ownerless component into this one (name must be free); takes ownership.
  void InsertComponent(std::unique_ptr<TComponent> child);
  // Takes a child out again; the caller holds it.
  std::unique_ptr<TComponent> RemoveComponent(TComponent* child);
  // Destroys every child, last first.
  void DestroyComponents();

  unsigned ComponentState() const { return state_; }
  bool IsStreaming() const { return (state_ & (csLoading | csReading | csWriting)) != 0; }
  void SetState(unsigned flags) { state_ |= flags; }
  void ClearState(unsigned flags) { state_ &= ~flags; }

  // Called by the stream reader after the object and its properties have been read.
  virtual void Loaded();

 private:
  void CheckNameFree(const QString& name, const TComponent* except) const;

  TComponent* owner_ = nullptr;
  std::vector<TComponent*> children_;  // owned; deleted by DestroyComponents
  QString name_;
  int tag_ = 0;
  unsigned state_ = 0;
};

// Builders for the per-class property tables: a property is read and written through a pair of
// member functions of the declaring class.
template <class C>
struct Props {
  template <class S>
  struct ArgOf;
  template <class R, class A>
  struct ArgOf<R (C::*)(A)> {
    using type = std::decay_t<A>;
  };

  // G: a const member function returning the value; S: a member function taking it, or nullptr
  // for a read-only property.
  template <class G, class S>
  static TPropInfo Make(const QString& name, TPropKind kind, std::optional<qint64> def, G get, S set) {
    TPropInfo p;
    p.Name = name;
    p.Kind = kind;
    p.Default = def;
    p.Get = [get](const TPersistent& o) {
      return QVariant::fromValue(
          std::decay_t<decltype((static_cast<const C&>(o).*get)())>((static_cast<const C&>(o).*get)()));
    };
    using R = std::decay_t<decltype((std::declval<const C&>().*get)())>;
    if constexpr (std::is_floating_point_v<R>) {
      p.GetFloat = [get](const TPersistent& o) {
        return static_cast<double>((static_cast<const C&>(o).*get)());
      };
    } else if constexpr (std::is_arithmetic_v<R>) {
      p.GetInteger = [get](const TPersistent& o) {
        return static_cast<qint64>((static_cast<const C&>(o).*get)());
      };
    } else if constexpr (std::is_reference_v<decltype((std::declval<const C&>().*get)())>) {
      if constexpr (std::is_same_v<R, QString>)
        p.GetText = [get](const TPersistent& o) { return &(static_cast<const C&>(o).*get)(); };
      else if constexpr (std::is_same_v<R, TTextList>)
        p.GetLines = [get](const TPersistent& o) { return &(static_cast<const C&>(o).*get)(); };
    }
    if constexpr (!std::is_same_v<S, std::nullptr_t>) {
      p.Set = [set](TPersistent& o, const QVariant& v) {
        (static_cast<C&>(o).*set)(v.value<typename ArgOf<S>::type>());
      };
    }
    return p;
  }

  template <class G, class S>
  static TPropInfo Int(const QString& n, std::optional<qint64> def, G g, S s) {
    return Make(n, TPropKind::Integer, def, g, s);
  }
  template <class G, class S>
  static TPropInfo Colour(const QString& n, std::optional<qint64> def, G g, S s) {
    return Make(n, TPropKind::Colour, def, g, s);
  }
  template <class G, class S>
  static TPropInfo Charset(const QString& n, std::optional<qint64> def, G g, S s) {
    return Make(n, TPropKind::Charset, def, g, s);
  }
  template <class G, class S>
  static TPropInfo Bool(const QString& n, std::optional<bool> def, G g, S s) {
    return Make(n, TPropKind::Boolean, def ? std::optional<qint64>(*def ? 1 : 0) : std::nullopt, g, s);
  }
  template <class G, class S>
  static TPropInfo Float(const QString& n, G g, S s) {
    return Make(n, TPropKind::Float, std::nullopt, g, s);
  }
  template <class G, class S>
  static TPropInfo DateTime(const QString& n, G g, S s) {
    return Make(n, TPropKind::DateTime, std::nullopt, g, s);
  }
  template <class G, class S>
  static TPropInfo String(const QString& n, G g, S s) {
    return Make(n, TPropKind::String, std::nullopt, g, s);
  }
  template <class G, class S>
  static TPropInfo StringList(const QString& n, G g, S s) {
    return Make(n, TPropKind::StringList, std::nullopt, g, s);
  }
  template <class E, class S>
  static TPropInfo Enum(const QString& n, const QStringList& names, E def, E (C::*g)() const, S s) {
    TPropInfo p;
    p.Name = n;
    p.Kind = TPropKind::Enumeration;
    p.Default = static_cast<qint64>(def);
    p.Names = names;
    p.Get = [g](const TPersistent& o) { return QVariant(static_cast<int>((static_cast<const C&>(o).*g)())); };
    p.GetInteger = [g](const TPersistent& o) {
      return static_cast<qint64>(static_cast<int>((static_cast<const C&>(o).*g)()));
    };
    if constexpr (!std::is_same_v<S, std::nullptr_t>) {
      p.Set = [s](TPersistent& o, const QVariant& v) { (static_cast<C&>(o).*s)(static_cast<E>(v.toInt())); };
    }
    return p;
  }
};

// The one way a property setter stores: the new value goes into the field, and the answer says
// whether it differed, so the setter marks the object changed, reapplies or tells its views only then.
template <class Field, class Value>
bool StoreIfDifferent(Field& field, const Value& value) {
  if (field == value) return false;
  field = value;
  return true;
}

}  // namespace vexa
