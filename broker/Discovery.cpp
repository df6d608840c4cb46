#include "broker/Discovery.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <cmath>
#include <cstdint>
#include <utility>

#include "broker/Topics.h"
#include "core/CustomRegister.h"
#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "ui/model/LabelDisplay.h"

namespace vexa {

namespace {

QString UnitsOf(const TCustomRegister& reg) {
  if (reg.ComponentCount() > 0)
    if (const auto* label = dynamic_cast<const TLabelDisplay*>(reg.Component(0))) return label->Units();
  return {};
}

// What a number entity may be set to. Home Assistant needs bounds; the fixed-point types' are
// their raw ranges scaled by the decimals, a float's are wide, and the register refuses the rest.
std::pair<double, double> NumberRange(const TCustomRegister& reg) {
  std::pair<double, double> raw{-1e9, 1e9};
  switch (reg.RegisterType()) {
    case rtUBYTE:
      raw = {0, 255};
      break;
    case rtBYTE:
      raw = {-128, 127};
      break;
    case rtUINT:
      raw = {0, 65535};
      break;
    case rtINT:
      raw = {-32768, 32767};
      break;
    case rtULONG:
    case rtLONG:
      raw = {INT32_MIN, INT32_MAX};
      break;
    default:
      return raw;
  }
  const double scale = std::pow(10.0, reg.Digits());
  return {raw.first / scale, raw.second / scale};
}

// The node in the tree right under NET that holds the register: its regulator.
const TRootNode* RegulatorOf(const TCustomRegister& reg) {
  const TComponent* at = &reg;
  while (at->Owner() != nullptr && at->Owner()->Owner() != nullptr) at = at->Owner();
  return at != &reg ? dynamic_cast<const TRootNode*>(at) : nullptr;
}

}  // namespace

QString UnitSymbol(const QString& units) {
  static const QHash<QString, QString> symbols{
      {QStringLiteral("бар"), QStringLiteral("bar")},     {QStringLiteral("мбар"), QStringLiteral("mbar")},
      {QStringLiteral("°с"), QStringLiteral("°C")},       {QStringLiteral("°c"), QStringLiteral("°C")},
      {QStringLiteral("град"), QStringLiteral("°C")},     {QStringLiteral("гр.с"), QStringLiteral("°C")},
      {QStringLiteral("м³/ч"), QStringLiteral("m³/h")},   {QStringLiteral("м3/ч"), QStringLiteral("m³/h")},
      {QStringLiteral("м³"), QStringLiteral("m³")},       {QStringLiteral("м3"), QStringLiteral("m³")},
      {QStringLiteral("л/мин"), QStringLiteral("L/min")}, {QStringLiteral("л"), QStringLiteral("L")},
      {QStringLiteral("па"), QStringLiteral("Pa")},       {QStringLiteral("кпа"), QStringLiteral("kPa")},
      {QStringLiteral("мпа"), QStringLiteral("MPa")},     {QStringLiteral("вт"), QStringLiteral("W")},
      {QStringLiteral("квт"), QStringLiteral("kW")},      {QStringLiteral("мвт"), QStringLiteral("MW")},
      {QStringLiteral("квт·ч"), QStringLiteral("kWh")},   {QStringLiteral("квт*ч"), QStringLiteral("kWh")},
      {QStringLiteral("в"), QStringLiteral("V")},         {QStringLiteral("а"), QStringLiteral("A")},
      {QStringLiteral("ма"), QStringLiteral("mA")},       {QStringLiteral("гц"), QStringLiteral("Hz")},
      {QStringLiteral("с"), QStringLiteral("s")},         {QStringLiteral("сек"), QStringLiteral("s")},
      {QStringLiteral("мин"), QStringLiteral("min")},     {QStringLiteral("ч"), QStringLiteral("h")},
      {QStringLiteral("мм"), QStringLiteral("mm")},       {QStringLiteral("м"), QStringLiteral("m")},
      {QStringLiteral("кг"), QStringLiteral("kg")},       {QStringLiteral("т/ч"), QStringLiteral("t/h")},
      {QStringLiteral("об/мин"), QStringLiteral("rpm")}};
  const QString key = units.trimmed().toLower();
  return symbols.value(key, units.trimmed());
}

QByteArray DiscoveryId(const QString& text) {
  QByteArray id;
  bool changed = false;
  for (const QChar c : text) {
    const bool fits = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                      (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                      (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('_') ||
                      c == QLatin1Char('-');
    id += fits ? static_cast<char>(c.unicode()) : '_';
    changed = changed || !fits;
  }
  if (id.isEmpty() || changed)
    id += '_' + QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1).toHex().left(8);
  return id;
}

std::vector<QByteArray> RetainedGlances(const QByteArray& root) {
  return {root + "/+",
          QByteArray(kDiscoveryPrefix) + "/+/" + DiscoveryId(QString::fromUtf8(root)) + "/+/config"};
}

TDiscoveryConfig DiscoveryConfigOf(const TCustomRegister& reg, const QByteArray& root, bool writes) {
  const TValueType type = ValueTypeOf(reg);
  const bool writable = writes && reg.UserCanWRITE();
  const char* component = "sensor";
  if (writable && type.Kind == TValueKind::Number) component = "number";
  if (writable && type.Kind == TValueKind::Boolean) component = "switch";
  const QByteArray node = DiscoveryId(QString::fromUtf8(root));
  const QByteArray object = DiscoveryId(reg.Name());
  const QString state = QString::fromUtf8(ValueTopic(root, reg.Name()));
  const TPlace place = PlaceOf(reg);

  QJsonObject device;
  if (const TRootNode* regulator = RegulatorOf(reg)) {
    device[QStringLiteral("identifiers")] =
        QJsonArray{QString::fromUtf8(node + '_' + DiscoveryId(regulator->Name()))};
    device[QStringLiteral("name")] =
        regulator->Caption().isEmpty() ? regulator->Name() : regulator->Caption();
  } else {
    device[QStringLiteral("identifiers")] = QJsonArray{QString::fromUtf8(node)};
    device[QStringLiteral("name")] = QString::fromUtf8(root);
  }
  device[QStringLiteral("manufacturer")] = QStringLiteral("Vexa");

  const QString own = reg.Caption().isEmpty() ? reg.Name() : reg.Caption();
  QJsonObject o{
      {QStringLiteral("name"), place.Channel.isEmpty() ? own : place.Channel + QStringLiteral(" / ") + own},
      {QStringLiteral("unique_id"), QString::fromUtf8(node + '_' + object)},
      {QStringLiteral("object_id"), QString::fromUtf8(node + '_' + object)},
      {QStringLiteral("state_topic"), state},
      {QStringLiteral("json_attributes_topic"), state},
      {QStringLiteral("availability_topic"), QString::fromUtf8(StatusTopic(root))},
      {QStringLiteral("payload_available"), QStringLiteral("online")},
      {QStringLiteral("payload_not_available"), QStringLiteral("offline")},
      {QStringLiteral("device"), device}};
  if (type.Kind == TValueKind::Boolean) {
    // A switch compares the state with its payloads; a sensor shows it.
    o[QStringLiteral("value_template")] = QStringLiteral("{{ 'ON' if value_json.value else 'OFF' }}");
  } else {
    o[QStringLiteral("value_template")] = QStringLiteral("{{ value_json.value }}");
  }
  if (const QString units = UnitSymbol(UnitsOf(reg)); !units.isEmpty() && type.Kind == TValueKind::Number)
    o[QStringLiteral("unit_of_measurement")] = units;
  if (writable && type.Kind != TValueKind::Text) {
    o[QStringLiteral("command_topic")] = state + QStringLiteral("/set");
    if (type.Kind == TValueKind::Number) {
      const auto [min, max] = NumberRange(reg);
      o[QStringLiteral("min")] = min;
      o[QStringLiteral("max")] = max;
      o[QStringLiteral("step")] = std::pow(10.0, -type.Digits);
      o[QStringLiteral("mode")] = QStringLiteral("box");
    } else {
      o[QStringLiteral("payload_on")] = QStringLiteral("ON");
      o[QStringLiteral("payload_off")] = QStringLiteral("OFF");
    }
  }
  TDiscoveryConfig config;
  config.Topic = QByteArray(kDiscoveryPrefix) + '/' + component + '/' + node + '/' + object + "/config";
  config.Payload = QJsonDocument(o).toJson(QJsonDocument::Compact);
  return config;
}

TRetainedRoster::TRetainedRoster(QByteArray root, bool discovery, bool writes)
    : root_(std::move(root)), discovery_(discovery), writes_(writes) {}

void TRetainedRoster::NoteValue(const QString& registerName) {
  entries_[registerName].Value = true;
}

std::vector<TOutgoing> TRetainedRoster::Update(TNetwork& network) {
  std::vector<TOutgoing> out;
  const auto retained = [&out](const QByteArray& topic, const QByteArray& payload) {
    TOutgoing m;
    m.Topic = topic;
    m.Payload = payload;
    m.Retain = true;
    out.push_back(std::move(m));
  };
  for (TEntry& e : entries_) e.Present = false;
  const TComponent* root = network.Net().get();
  const TComponent* current = root;
  int index = 0;
  TCustomRegister* reg = nullptr;
  while (!NextRegister(root, current, index, reg)) {
    if (reg == nullptr) continue;
    TEntry& e = entries_[reg->Name()];
    e.Present = true;
    if (!discovery_) continue;
    // A switched-off register is no entity; its config goes as a removed one's does.
    TDiscoveryConfig config;
    if (reg->Enabled()) config = DiscoveryConfigOf(*reg, root_, writes_);
    if (config.Topic != e.ConfigTopic && !e.ConfigTopic.isEmpty()) retained(e.ConfigTopic, {});
    if (!config.Topic.isEmpty() && (config.Topic != e.ConfigTopic || config.Payload != e.Config))
      retained(config.Topic, config.Payload);
    e.ConfigTopic = config.Topic;
    e.Config = config.Payload;
  }
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->Present) {
      ++it;
      continue;
    }
    if (it->Value) retained(ValueTopic(root_, it.key()), {});
    if (!it->ConfigTopic.isEmpty()) retained(it->ConfigTopic, {});
    it = entries_.erase(it);
  }
  return out;
}

std::vector<TOutgoing> TRetainedRoster::Stale(const std::vector<QByteArray>& topics) const {
  QSet<QByteArray> standing;
  for (auto it = entries_.cbegin(); it != entries_.cend(); ++it) {
    standing.insert(ValueTopic(root_, it.key()));
    if (!it->ConfigTopic.isEmpty()) standing.insert(it->ConfigTopic);
  }
  std::vector<TOutgoing> out;
  for (const QByteArray& topic : topics) {
    if (standing.contains(topic)) continue;
    standing.insert(topic);  // once
    TOutgoing m;
    m.Topic = topic;
    m.Retain = true;
    out.push_back(std::move(m));
  }
  return out;
}

}  // namespace vexa
