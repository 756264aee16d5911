#include "BRExpr.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <charconv>
#include <cmath>
#include <string_view>

#include "BRFormat.h"
#include "db/TDataSet.h"

namespace br {

namespace {

// Fills the "%s" of a message template in order.
QString Fmt(const QString& templ, std::initializer_list<QString> args) {
  QString out;
  auto arg = args.begin();
  for (int i = 0; i < templ.size(); ++i) {
    if (templ[i] == u'%' && i + 1 < templ.size() && templ[i + 1] == u's' && arg != args.end()) {
      out += *arg++;
      ++i;
    } else {
      out += templ[i];
    }
  }
  return out;
}

std::u16string_view View(const QString& s) { return {reinterpret_cast<const char16_t*>(s.utf16()), static_cast<std::size_t>(s.size())}; }

// Strings compare by their UTF-16 code units, case-sensitively.
int CompareText(const QString& a, const QString& b) {
  const auto c = View(a).compare(View(b));
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

QString BoolText(bool b) { return b ? QStringLiteral("True") : QStringLiteral("False"); }

QString ToText(const TBREvResult& r) {
  switch (r.Kind) {
    case TBREvResultType::resInt: return QString::number(r.intResult);
    case TBREvResultType::resDouble: return FloatToStr(r.dblResult, UserFormats());
    case TBREvResultType::resBool: return BoolText(r.booResult);
    default: return r.StringVal;
  }
}

// Rounds to the nearest integer, halves to the even neighbour.
std::int32_t RoundEven(double v) { return static_cast<std::int32_t>(std::nearbyint(v)); }

std::int32_t Wrap(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v))); }

QString OperatorText(TBREvOperator op) {
  switch (op) {
    case TBREvOperator::opLess: return QStringLiteral("<");
    case TBREvOperator::opLessOrEqual: return QStringLiteral("<=");
    case TBREvOperator::opGreater: return QStringLiteral(">");
    case TBREvOperator::opGreaterOrEqual: return QStringLiteral(">=");
    case TBREvOperator::opOr: return QStringLiteral("OR");
    case TBREvOperator::opAnd: return QStringLiteral("AND");
    default: return QString();
  }
}

bool IsComparison(TBREvOperator op) { return op <= TBREvOperator::opUnequal; }

template <class T>
bool CompareBy(TBREvOperator op, const T& a, const T& b) {
  switch (op) {
    case TBREvOperator::opLess: return a < b;
    case TBREvOperator::opLessOrEqual: return a <= b;
    case TBREvOperator::opGreater: return a > b;
    case TBREvOperator::opGreaterOrEqual: return a >= b;
    case TBREvOperator::opEqual: return a == b;
    default: return a != b;
  }
}

TBREvResult Combine(TBREvOperator op, TBREvResult l, TBREvResult r) {
  using K = TBREvResultType;
  if (l.Kind == K::resError) return l;
  if (r.Kind == K::resError) return r;
  if (l.Kind != r.Kind) {
    if ((l.Kind == K::resInt && r.Kind == K::resDouble) || (l.Kind == K::resDouble && r.Kind == K::resInt)) {
      if (l.Kind == K::resInt) l = TBREvResult::Double(l.intResult);
      if (r.Kind == K::resInt) r = TBREvResult::Double(r.intResult);
    } else {
      l = TBREvResult::String(ToText(l));
      r = TBREvResult::String(ToText(r));
    }
  }
  const QString cannot = QStringLiteral("Cannot %s %s expressions");
  const QString incompatible = QStringLiteral("Operator %s is not compatible with %s expressions");
  if (IsComparison(op)) {
    switch (l.Kind) {
      case K::resInt: return TBREvResult::Bool(CompareBy(op, l.intResult, r.intResult));
      case K::resDouble: return TBREvResult::Bool(CompareBy(op, l.dblResult, r.dblResult));
      case K::resString: return TBREvResult::Bool(CompareBy(op, CompareText(l.StringVal, r.StringVal), 0));
      default:
        if (op == TBREvOperator::opEqual || op == TBREvOperator::opUnequal)
          return TBREvResult::Bool(CompareBy(op, l.booResult, r.booResult));
        return TBREvResult::Error(Fmt(incompatible, {OperatorText(op), QStringLiteral("boolean")}));
    }
  }
  const auto verb = [op]() -> QString {
    switch (op) {
      case TBREvOperator::opPlus: return QStringLiteral("add");
      case TBREvOperator::opMinus: return QStringLiteral("subtract");
      case TBREvOperator::opMul: return QStringLiteral("multiply");
      default: return QStringLiteral("divide");
    }
  };
  switch (op) {
    case TBREvOperator::opOr:
    case TBREvOperator::opAnd: {
      const bool isOr = op == TBREvOperator::opOr;
      if (l.Kind == K::resInt) return TBREvResult::Int(isOr ? (l.intResult | r.intResult) : (l.intResult & r.intResult));
      if (l.Kind == K::resBool) return TBREvResult::Bool(isOr ? (l.booResult || r.booResult) : (l.booResult && r.booResult));
      return TBREvResult::Error(Fmt(incompatible, {OperatorText(op), l.Kind == K::resDouble ? QStringLiteral("numeric") : QStringLiteral("string")}));
    }
    case TBREvOperator::opPlus:
      if (l.Kind == K::resInt) return TBREvResult::Int(Wrap(std::int64_t{l.intResult} + r.intResult));
      if (l.Kind == K::resDouble) return TBREvResult::Double(l.dblResult + r.dblResult);
      if (l.Kind == K::resString) return TBREvResult::String(l.StringVal + r.StringVal);
      return TBREvResult::Error(Fmt(cannot, {verb(), QStringLiteral("boolean")}));
    case TBREvOperator::opMinus:
    case TBREvOperator::opMul:
      if (l.Kind == K::resInt)
        return TBREvResult::Int(op == TBREvOperator::opMinus ? Wrap(std::int64_t{l.intResult} - r.intResult)
                                                             : Wrap(std::int64_t{l.intResult} * r.intResult));
      if (l.Kind == K::resDouble)
        return TBREvResult::Double(op == TBREvOperator::opMinus ? l.dblResult - r.dblResult : l.dblResult * r.dblResult);
      return TBREvResult::Error(Fmt(cannot, {verb(), l.Kind == K::resString ? QStringLiteral("string") : QStringLiteral("boolean")}));
    default:  // opDiv
      if (l.Kind == K::resInt || l.Kind == K::resDouble) {
        const double a = l.Kind == K::resInt ? l.intResult : l.dblResult;
        const double b = l.Kind == K::resInt ? r.intResult : r.dblResult;
        if (b == 0) return TBREvResult::Error(QStringLiteral("Cannot divide by 0"));
        return TBREvResult::Double(a / b);
      }
      return TBREvResult::Error(Fmt(cannot, {verb(), l.Kind == K::resString ? QStringLiteral("string") : QStringLiteral("boolean")}));
  }
}

QString KindName(TBREvResultType k) {
  switch (k) {
    case TBREvResultType::resInt: return QStringLiteral("INTEGER");
    case TBREvResultType::resDouble: return QStringLiteral("FLOAT");
    case TBREvResultType::resString: return QStringLiteral("STRING");
    case TBREvResultType::resBool: return QStringLiteral("BOOLEAN");
    default: return QStringLiteral("ERROR");
  }
}

bool IsNumber(const TBREvResult& r) { return r.Kind == TBREvResultType::resInt || r.Kind == TBREvResultType::resDouble; }
double NumberOf(const TBREvResult& r) { return r.Kind == TBREvResultType::resInt ? r.intResult : r.dblResult; }
TBREvResult WrongArguments(const QString& name) { return TBREvResult::Error(Fmt(QStringLiteral("Wrong arguments for %s"), {name})); }
TBREvResult Empty() { return TBREvResult::Error(QString()); }

// ----- the library's functions

template <class F>
class TFunction : public TBREvElementFunction {
 public:
  explicit TFunction(F f) : FCalc(std::move(f)) {}
  void Calculate(TBREvResult& result) override { result = FCalc(ArgList); }

 private:
  F FCalc;
};

template <class F>
std::function<std::unique_ptr<TBREvElementFunction>()> Make(F f) {
  return [f] { return std::make_unique<TFunction<F>>(f); };
}

using Args = std::vector<TBREvResult>;

TBREvResult CaseFunction(const Args& a, const QString& name, int mode) {
  if (a.size() != 1) return TBREvResult::Error(Fmt(QStringLiteral("Missing argument for %s"), {name}));
  if (a[0].Kind != TBREvResultType::resString)
    return TBREvResult::Error(a[0].Kind == TBREvResultType::resError ? a[0].StringVal : QString());
  const QLocale locale;
  const QString& s = a[0].StringVal;
  if (mode == 0) return TBREvResult::String(locale.toUpper(s));
  if (mode == 1) return TBREvResult::String(locale.toLower(s));
  if (s.isEmpty()) return TBREvResult::String(s);
  // A first character outside the basic plane is a surrogate pair: both halves go together.
  const int head = s[0].isHighSurrogate() && s.size() > 1 ? 2 : 1;
  return TBREvResult::String(locale.toUpper(s.left(head)) + locale.toLower(s.mid(head)));
}

// SUM and AVERAGE: the first value sets the kind; integers add as integers, floats as floats.
class TSumFunction : public TBREvElementFunction {
 public:
  explicit TSumFunction(bool average) : FAverage(average) { FIsAggreg = true; TSumFunction::Reset(); }
  void Reset() override {
    FSum = TBREvResult::Int(0);
    FCount = 0;
    FWrongArgs = false;
  }
  void Aggregate() override {
    if (ArgList.size() != 1) {
      FWrongArgs = true;
      return;
    }
    const TBREvResult& v = ArgList[0];
    if (FCount == 0) {
      FSum = IsNumber(v) ? v : Empty();
      ++FCount;
      return;
    }
    if (FSum.Kind == TBREvResultType::resError) return;
    if (v.Kind == TBREvResultType::resString) {
      FSum = Empty();
    } else if (IsNumber(v)) {
      if (FSum.Kind == TBREvResultType::resInt && v.Kind == TBREvResultType::resInt)
        FSum.intResult = Wrap(std::int64_t{FSum.intResult} + v.intResult);
      else if (FSum.Kind == TBREvResultType::resInt)
        FSum.intResult = Wrap(std::int64_t{FSum.intResult} + std::llround(v.dblResult));
      else
        FSum.dblResult += NumberOf(v);
      ++FCount;
    }
  }
  void Calculate(TBREvResult& result) override {
    if (FWrongArgs || ArgList.size() > 1) {
      result = WrongArguments(FAverage ? QStringLiteral("AVERAGE") : QStringLiteral("SUM"));
      return;
    }
    if (!FAverage) {
      result = FSum;
    } else if (FCount == 0) {
      result = TBREvResult::Double(0.0);
    } else {
      result = IsNumber(FSum) ? TBREvResult::Double(NumberOf(FSum) / FCount) : Empty();
    }
  }

 private:
  bool FAverage;
  TBREvResult FSum;
  int FCount = 0;
  bool FWrongArgs = false;
};

class TExtremeFunction : public TBREvElementFunction {
 public:
  explicit TExtremeFunction(bool max) : FMax(max) { FIsAggreg = true; TExtremeFunction::Reset(); }
  void Reset() override {
    FValue = TBREvResult::Int(0);
    FHas = false;
  }
  void Aggregate() override {
    if (ArgList.size() != 1) return;
    const TBREvResult& v = ArgList[0];
    if (!FHas) {
      FValue = v;
      FHas = true;
      return;
    }
    int c = 0;  // v against the stored value
    switch (FValue.Kind) {
      case TBREvResultType::resInt:
      case TBREvResultType::resDouble:
        if (!IsNumber(v)) return;
        if (FValue.Kind == TBREvResultType::resInt && v.Kind == TBREvResultType::resInt)
          c = v.intResult < FValue.intResult ? -1 : (v.intResult > FValue.intResult ? 1 : 0);
        else
          c = NumberOf(v) < NumberOf(FValue) ? -1 : (NumberOf(v) > NumberOf(FValue) ? 1 : 0);
        break;
      case TBREvResultType::resString:
        if (v.Kind != TBREvResultType::resString) return;
        c = CompareText(v.StringVal, FValue.StringVal);
        break;
      case TBREvResultType::resBool:
        if (v.Kind != TBREvResultType::resBool) return;
        c = int(v.booResult) - int(FValue.booResult);
        break;
      default:
        return;  // an error stays
    }
    if ((FMax && c > 0) || (!FMax && c < 0)) {
      // The stored value keeps its kind.
      if (FValue.Kind == TBREvResultType::resInt && v.Kind == TBREvResultType::resDouble)
        FValue.intResult = RoundEven(v.dblResult);
      else if (FValue.Kind == TBREvResultType::resDouble && v.Kind == TBREvResultType::resInt)
        FValue.dblResult = v.intResult;
      else
        FValue = v;
    }
  }
  void Calculate(TBREvResult& result) override {
    result = ArgList.size() == 1 ? FValue : WrongArguments(FMax ? QStringLiteral("MAX") : QStringLiteral("MIN"));
  }

 private:
  bool FMax;
  TBREvResult FValue;
  bool FHas = false;
};

class TCountFunction : public TBREvElementFunction {
 public:
  TCountFunction() { FIsAggreg = true; }
  void Reset() override { FCount = 0; }
  void Aggregate() override {
    if (ArgList.empty()) ++FCount;
  }
  void Calculate(TBREvResult& result) override {
    result = ArgList.empty() ? TBREvResult::Int(FCount) : TBREvResult::Error(QStringLiteral("COUNT - Too many arguments"));
  }

 private:
  std::int32_t FCount = 0;
};

TBREvResult NoArguments(const Args& a, const TBREvResult& value) {
  return a.empty() ? value : TBREvResult::Error(QStringLiteral("Too many arguments"));
}

}  // namespace

// ----- results

TBREvResult TBREvResult::Int(std::int32_t v) {
  TBREvResult r;
  r.Kind = TBREvResultType::resInt;
  r.intResult = v;
  return r;
}
TBREvResult TBREvResult::Double(double v) {
  TBREvResult r;
  r.Kind = TBREvResultType::resDouble;
  r.dblResult = v;
  return r;
}
TBREvResult TBREvResult::String(const QString& v) {
  TBREvResult r;
  r.Kind = TBREvResultType::resString;
  r.StringVal = v;
  return r;
}
TBREvResult TBREvResult::Bool(bool v) {
  TBREvResult r;
  r.Kind = TBREvResultType::resBool;
  r.booResult = v;
  return r;
}
TBREvResult TBREvResult::Error(const QString& message) {
  TBREvResult r;
  r.Kind = TBREvResultType::resError;
  r.StringVal = message;
  return r;
}

// ----- elements

namespace {

void EvaluateNext(TBRFiFo& fifo, TBREvResult& result) {
  TBREvElement* e = fifo.Get();
  if (!e) {
    result = Empty();
    return;
  }
  e->Value(fifo, result);
}

}  // namespace

void TBREvElementOperator::Value(TBRFiFo& fifo, TBREvResult& result) {
  TBREvResult left, right;
  EvaluateNext(fifo, left);
  EvaluateNext(fifo, right);
  result = Combine(FOpCode, std::move(left), std::move(right));
}

void TBREvElementNot::Value(TBRFiFo& fifo, TBREvResult& result) {
  TBREvResult operand;
  EvaluateNext(fifo, operand);
  result = operand.Kind == TBREvResultType::resBool ? TBREvResult::Bool(!operand.booResult)
                                                    : TBREvResult::Error(QStringLiteral("Invalid use of NOT"));
}

void TBREvElementDataField::Value(TBRFiFo&, TBREvResult& result) {
  using tk::TFieldType;
  if (!FDataSet || FFieldNo < 0 || FFieldNo >= FDataSet->FieldCount()) {
    result = TBREvResult::Error(QStringLiteral("Field is gone"));
    return;
  }
  // Fetched by position every time: default fields are made again at each opening.
  const tk::TField& field = FDataSet->Fields(FFieldNo);
  switch (field.DataType()) {
    case TFieldType::dtString:
    case TFieldType::dtWideString:
      result = TBREvResult::String(QString::fromStdU16String(field.AsString()));
      break;
    case TFieldType::dtInteger:
    case TFieldType::dtSmallInt:
    case TFieldType::dtLargeInt:
    case TFieldType::dtByte:
    case TFieldType::dtAutoInc:
      result = TBREvResult::Int(field.IsNull() ? 0 : Wrap(field.AsLargeInt()));
      break;
    case TFieldType::dtFloat:
      result = TBREvResult::Double(field.IsNull() ? 0.0 : field.AsFloat());
      break;
    case TFieldType::dtBoolean:
      result = TBREvResult::Bool(!field.IsNull() && field.AsBoolean());
      break;
    case TFieldType::dtDate:
    case TFieldType::dtTime:
    case TFieldType::dtDateTime:
      result = TBREvResult::String(QString::fromStdU16String(field.DisplayText()));
      break;
    default:
      result = TBREvResult::Error(Fmt(QStringLiteral("Field %s is of unknown type"), {QString::fromStdU16String(field.FieldName())}));
  }
}

void TBREvElementWrapper::Value(TBRFiFo&, TBREvResult& result) { FEmbeddedFunction->Evaluate(result); }

void TBREvElementFunction::Value(TBRFiFo& fifo, TBREvResult& result) {
  ArgList.clear();
  while (TBREvElement* e = fifo.Get()) {
    if (dynamic_cast<TBREvElementArgumentEnd*>(e)) break;
    TBREvResult arg;
    e->Value(fifo, arg);
    ArgList.push_back(std::move(arg));
  }
  if (fifo.FAggreg) Aggregate();
  Calculate(result);
  ArgList.clear();
}

TBREvEmbeddedFunction::TBREvEmbeddedFunction(QString expression)
    : FExpression(std::move(expression)), Evaluator(std::make_unique<TBREvaluator>()) {
  Evaluator->CountsGlobalEnvironment = false;
}

TBREvEmbeddedFunction::~TBREvEmbeddedFunction() = default;

void TBREvEmbeddedFunction::Value(TBRFiFo&, TBREvResult& result) { Evaluate(result); }

void TBREvEmbeddedFunction::Evaluate(TBREvResult& result) {
  if (FInEvaluate) {
    result = TBREvResult::Error(QStringLiteral("Recursive calls not allowed"));
    return;
  }
  if (!Evaluator->Prepared()) {
    result = TBREvResult::Error(QStringLiteral("Evaluator not prepared"));
    return;
  }
  FInEvaluate = true;
  try {
    Evaluator->Value(result);
  } catch (...) {
    FInEvaluate = false;
    throw;
  }
  FInEvaluate = false;
}

// ----- the evaluator

TBREvaluator::~TBREvaluator() {
  if (FPrepared && CountsGlobalEnvironment) GlobalEnvironment().Unprepare();
}

void TBREvaluator::Prepare(const QString& expression) {
  if (FPrepared) UnPrepare();
  if (CountsGlobalEnvironment) GlobalEnvironment().Prepare();
  FiFo = std::make_unique<TBRFiFo>();
  FParseDepth = 0;
  ParseLevel1(expression.isEmpty() ? QStringLiteral("' '") : expression);
  FPrepared = true;
}

void TBREvaluator::UnPrepare() {
  if (!FPrepared) return;
  FiFo.reset();
  FPrepared = false;
  if (CountsGlobalEnvironment) GlobalEnvironment().Unprepare();
}

void TBREvaluator::Value(TBREvResult& result) {
  if (!FPrepared) throw EBRError("Evaluator not prepared");
  FiFo->Start();
  EvaluateNext(*FiFo, result);
}

void TBREvaluator::Reset() {
  if (!FiFo) return;
  for (auto& e : FiFo->FiFo) e->Reset();
}

void TBREvaluator::DoAggregate() {
  if (!FPrepared) throw EBRError("Evaluator not prepared");
  TBREvResult ignored;
  FiFo->FAggreg = true;
  try {
    Value(ignored);
  } catch (...) {
    FiFo->FAggreg = false;
    throw;
  }
  FiFo->FAggreg = false;
}

void TBREvaluator::Calculate(const QString& expression, TBREvResult& result) {
  Prepare(expression);
  Value(result);
  UnPrepare();
}

bool TBREvaluator::IsAggreg() const noexcept {
  if (!FiFo) return false;
  for (const auto& e : FiFo->FiFo)
    if (e->FIsAggreg) return true;
  return false;
}

TBREvElement* TBREvaluator::FirstElement() const noexcept {
  return FiFo && !FiFo->FiFo.empty() ? FiFo->FiFo.front().get() : nullptr;
}

QString TBREvaluator::AsString() {
  TBREvResult r;
  Value(r);
  if (r.Kind == TBREvResultType::resError) throw EBRError(Fmt(QStringLiteral("Error in expression : %s"), {r.StringVal}));
  return ToText(r);
}

std::int32_t TBREvaluator::AsInteger() {
  TBREvResult r;
  Value(r);
  if (r.Kind == TBREvResultType::resInt) return r.intResult;
  if (r.Kind == TBREvResultType::resDouble) return RoundEven(r.dblResult);
  throw EBRError("Not a numeric value");
}

double TBREvaluator::AsFloat() {
  TBREvResult r;
  Value(r);
  if (IsNumber(r)) return NumberOf(r);
  throw EBRError("Not a numeric value");
}

bool TBREvaluator::AsBoolean() {
  TBREvResult r;
  Value(r);
  if (r.Kind == TBREvResultType::resBool) return r.booResult;
  if (r.Kind == TBREvResultType::resString) {
    if (r.StringVal.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0) return true;
    if (r.StringVal.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0) return false;
  }
  throw EBRError("Not a boolean value");
}

QVariant TBREvaluator::AsVariant() {
  TBREvResult r;
  Value(r);
  switch (r.Kind) {
    case TBREvResultType::resInt: return r.intResult;
    case TBREvResultType::resDouble: return r.dblResult;
    case TBREvResultType::resString: return r.StringVal;
    case TBREvResultType::resBool: return r.booResult;
    default: throw EBRError(Fmt(QStringLiteral("Error in expression : %s"), {r.StringVal}));
  }
}

void TBREvaluator::EmitError(const QString& message) { Emit(std::make_unique<TBREvElementError>(message)); }

namespace {

// Walks the text as each parsing level does: from the first character up to, not including,
// the last, tracking quotes, parenthesis depth and square brackets. `at` is called for every
// character from the second on at depth 0 outside quotes and brackets; it returns true to stop.
template <class F>
int Scan(const QString& s, F at) {
  bool quote = false, bracket = false;
  int depth = 0;
  for (int i = 0; i + 1 < s.size(); ++i) {
    const QChar c = s[i];
    if (bracket) {
      if (c == u']') bracket = false;
      continue;
    }
    if (c == u'\'') {
      quote = !quote;
      continue;
    }
    if (quote) continue;
    if (c == u'[') {
      bracket = true;
      continue;
    }
    if (c == u'(') {
      ++depth;
      continue;
    }
    if (c == u')') {
      --depth;
      continue;
    }
    if (i >= 1 && depth == 0 && at(i)) return i;
  }
  return -1;
}

// Exchanges two characters outside quotes at parenthesis depth 0 (brackets are not tracked).
QString Exchange(QString s, QChar a, QChar b) {
  bool quote = false;
  int depth = 0;
  for (QChar& c : s) {
    if (c == u'\'') quote = !quote;
    if (quote) continue;
    if (c == u'(') ++depth;
    else if (c == u')') --depth;
    else if (depth == 0 && c == a) c = b;
    else if (depth == 0 && c == b) c = a;
  }
  return s;
}

bool WordAt(const QString& s, int i, QLatin1String word) {
  return s[i] == u' ' && s.mid(i + 1, word.size()).compare(word, Qt::CaseInsensitive) == 0;
}

QString TrimBlanks(const QString& s) {
  int b = 0, e = s.size();
  while (b < e && s[b] == u' ') ++b;
  while (e > b && s[e - 1] == u' ') --e;
  return s.mid(b, e - b);
}

bool IsAsciiLetter(QChar c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool IsDigit(QChar c) { return c >= u'0' && c <= u'9'; }

}  // namespace

namespace {

struct TDepth {
  explicit TDepth(int& depth) : Depth(depth) { ++Depth; }
  ~TDepth() { --Depth; }
  int& Depth;
};

}  // namespace

bool TBREvaluator::TooDeep() {
  if (FParseDepth <= kMaxParseDepth) return false;
  EmitError(QStringLiteral("Expression too complex"));
  return true;
}

void TBREvaluator::ParseLevel1(const QString& s) {
  const TDepth depth(FParseDepth);
  if (TooDeep()) return;
  TBREvOperator op{};
  int length = 0;
  const int at = Scan(s, [&](int i) {
    const QChar c = s[i], next = s[i + 1];
    if (c == u'<') {
      op = next == u'>' ? TBREvOperator::opUnequal : (next == u'=' ? TBREvOperator::opLessOrEqual : TBREvOperator::opLess);
      length = (next == u'>' || next == u'=') ? 2 : 1;
    } else if (c == u'=') {
      op = TBREvOperator::opEqual;
      length = 1;
    } else if (c == u'>') {
      op = next == u'=' ? TBREvOperator::opGreaterOrEqual : TBREvOperator::opGreater;
      length = next == u'=' ? 2 : 1;
    } else {
      return false;
    }
    return true;
  });
  if (at < 0) {
    ParseLevel2(s);
    return;
  }
  Emit(std::make_unique<TBREvElementOperator>(op));
  ParseLevel2(s.left(at));
  ParseLevel2(s.mid(at + length));
}

void TBREvaluator::ParseLevel2(const QString& s) {
  const TDepth depth(FParseDepth);
  if (TooDeep()) return;
  TBREvOperator op{};
  int skip = 0;
  const int at = Scan(s, [&](int i) {
    if (s[i] == u'+' || s[i] == u'-') {
      op = s[i] == u'+' ? TBREvOperator::opPlus : TBREvOperator::opMinus;
      skip = 1;
      return true;
    }
    if (WordAt(s, i, QLatin1String("or "))) {
      op = TBREvOperator::opOr;
      skip = 3;
      return true;
    }
    return false;
  });
  if (at < 0) {
    ParseLevel3(s);
    return;
  }
  Emit(std::make_unique<TBREvElementOperator>(op));
  ParseLevel3(s.left(at));
  const QString right = s.mid(at + skip);
  // a-b+c is held as a-(b-c), so that it evaluates from left to right.
  ParseLevel2(op == TBREvOperator::opMinus ? Exchange(right, u'+', u'-') : right);
}

void TBREvaluator::ParseLevel3(const QString& s) {
  const TDepth depth(FParseDepth);
  if (TooDeep()) return;
  TBREvOperator op{};
  int skip = 0;
  const int at = Scan(s, [&](int i) {
    if (s[i] == u'*' || s[i] == u'/') {
      op = s[i] == u'*' ? TBREvOperator::opMul : TBREvOperator::opDiv;
      skip = 1;
      return true;
    }
    if (WordAt(s, i, QLatin1String("and "))) {
      op = TBREvOperator::opAnd;
      skip = 4;
      return true;
    }
    return false;
  });
  if (at < 0) {
    ParseFactor(s);
    return;
  }
  Emit(std::make_unique<TBREvElementOperator>(op));
  ParseFactor(s.left(at));
  const QString right = s.mid(at + skip);
  ParseLevel3(op == TBREvOperator::opDiv ? Exchange(right, u'*', u'/') : right);
}

void TBREvaluator::ParseFactor(const QString& text) {
  const TDepth depth(FParseDepth);
  if (TooDeep()) return;
  const QString t = TrimBlanks(text);
  const QString missing = QStringLiteral("Missing %s");
  if (t.left(3).compare(QLatin1String("not"), Qt::CaseInsensitive) == 0) {
    Emit(std::make_unique<TBREvElementNot>());
    ParseLevel2(t.mid(3));
    return;
  }
  const QChar first = t.isEmpty() ? QChar() : t[0];
  if (first == u'\'') {
    if (t.size() < 2 || !t.endsWith(u'\'')) return EmitError(Fmt(missing, {QStringLiteral("'")}));
    Emit(std::make_unique<TBREvElementString>(t.mid(1, t.size() - 2)));
  } else if (first == u'(') {
    if (t.size() < 2 || !t.endsWith(u')')) return EmitError(Fmt(missing, {QStringLiteral(")")}));
    ParseLevel1(t.mid(1, t.size() - 2));
  } else if (first == u'+') {
    ParseFactor(t.mid(1));
  } else if (first == u'-') {
    ParseLevel2(QStringLiteral("0-") + t.mid(1));
  } else if (IsDigit(first)) {
    ParseNumber(t);
  } else if (IsAsciiLetter(first)) {
    const int paren = t.indexOf(u'(');
    if (paren < 0) {
      const QString upper = t.toUpper();
      if (FunctionLibrary().Find(upper))
        ResolveFunction(upper, QString());
      else
        ResolveName(upper);
    } else if (t.endsWith(u')')) {
      ResolveFunction(t.left(paren), t.mid(paren + 1, t.size() - paren - 2));
    } else {
      EmitError(Fmt(QStringLiteral("Unknown function : %s"), {QString()}));
    }
  } else if (first == u'[') {
    if (t.size() < 2 || !t.endsWith(u']')) return EmitError(Fmt(missing, {QStringLiteral("]")}));
    ResolveName(t.mid(1, t.size() - 2));
  } else {
    EmitError(Fmt(QStringLiteral("Error in expression : %s"), {t}));
  }
}

void TBREvaluator::ParseNumber(const QString& t) {
  const QString illegal = Fmt(QStringLiteral("Illegal character in numeric contant \"%s\""), {t});
  int i = 0;
  while (i < t.size() && IsDigit(t[i])) ++i;
  bool isFloat = false;
  for (int j = i; j < t.size(); ++j) {
    const QChar c = t[j];
    if (!(IsDigit(c) || c == u'.' || c == u'+' || c == u'-' || c == u'e' || c == u'E')) return EmitError(illegal);
    isFloat = true;
  }
  const std::string ascii = t.toStdString();
  if (!isFloat) {
    std::int32_t v = 0;
    const auto r = std::from_chars(ascii.data(), ascii.data() + ascii.size(), v);
    if (r.ec == std::errc() && r.ptr == ascii.data() + ascii.size()) {
      Emit(std::make_unique<TBREvElementConstant>(TBREvResult::Int(v)));
      return;
    }
  }
  // The text is in the program's own notation (a period), whatever the user's separator is.
  double d = 0;
  const auto r = std::from_chars(ascii.data(), ascii.data() + ascii.size(), d);
  if (r.ec != std::errc() || r.ptr != ascii.data() + ascii.size()) return EmitError(illegal);
  Emit(std::make_unique<TBREvElementConstant>(TBREvResult::Double(d)));
}

void TBREvaluator::ResolveFunction(const QString& name, const QString& arguments) {
  const QString upper = name.toUpper();
  const TBRLibraryEntry* entry = FunctionLibrary().Find(upper);
  if (!entry) return EmitError(Fmt(QStringLiteral("Unknown function : %s"), {upper}));
  Emit(entry->Item());
  if (!TrimBlanks(arguments).isEmpty()) {
    // Split at the commas outside quotes at depth 0 (brackets are not tracked).
    bool quote = false;
    int depth = 0, start = 0;
    for (int i = 0; i < arguments.size(); ++i) {
      const QChar c = arguments[i];
      if (c == u'\'') quote = !quote;
      if (quote) continue;
      if (c == u'(') ++depth;
      else if (c == u')') --depth;
      else if (c == u',' && depth == 0 && i + 1 < arguments.size()) {
        ParseLevel1(arguments.mid(start, i - start));
        start = i + 1;
      }
    }
    ParseLevel1(arguments.mid(start));
  }
  Emit(std::make_unique<TBREvElementArgumentEnd>());
}

void TBREvaluator::ResolveName(const QString& name) {
  if (!FDataSets.empty()) {
    const int dot = name.indexOf(u'.');
    const QString setPart = dot < 0 ? QString() : name.left(dot);
    const QString fieldPart = dot < 0 ? name : name.mid(dot + 1);
    for (const TBRDataSetRef& ref : FDataSets) {
      if (!ref.DataSet) continue;
      if (dot >= 0 && ref.Name.compare(setPart, Qt::CaseInsensitive) != 0) continue;
      for (int i = 0; i < ref.DataSet->FieldCount(); ++i) {
        if (QString::fromStdU16String(ref.DataSet->Fields(i).FieldName()).compare(fieldPart, Qt::CaseInsensitive) == 0) {
          Emit(std::make_unique<TBREvElementDataField>(ref.DataSet, i));
          return;
        }
      }
      if (dot >= 0) break;
    }
  }
  if (FEnvironment) {
    if (TBREvEmbeddedFunction* f = FEnvironment->Find(name)) return Emit(std::make_unique<TBREvElementWrapper>(f));
  }
  if (TBREvEmbeddedFunction* f = GlobalEnvironment().Find(name)) return Emit(std::make_unique<TBREvElementWrapper>(f));
  EmitError(Fmt(QStringLiteral("Unknown function : %s"), {name}));
}

// ----- environments

namespace {

// While an environment unprepares its entries, their evaluators leave the global one alone.
int GUnpreparing = 0;

}  // namespace

TBREvEnvironment::~TBREvEnvironment() { Clear(); }

void TBREvEnvironment::Clear() {
  // Entries refer to each other through wrappers: unprepare all before freeing any.
  for (auto& [name, entry] : FEntries) entry->Evaluator->UnPrepare();
  FEntries.clear();
}

void TBREvEnvironment::PrepareEntry(TBREvEmbeddedFunction& entry) {
  entry.Evaluator->SetDataSets(FDatasets);
  entry.Evaluator->SetEnvironment(this);
  entry.Evaluator->Prepare(entry.FExpression);
}

void TBREvEnvironment::Prepare() {
  if (FPrepareCount++ > 0) return;
  for (auto& [name, entry] : FEntries) PrepareEntry(*entry);
}

void TBREvEnvironment::Unprepare() {
  if (FPrepareCount == 0) return;
  if (this == &GlobalEnvironment() && GUnpreparing > 0) return;
  if (--FPrepareCount > 0) return;
  ++GUnpreparing;
  for (auto& [name, entry] : FEntries) entry->Evaluator->UnPrepare();
  --GUnpreparing;
}

void TBREvEnvironment::AddFunction(const QString& name, const QString& expression) {
  const QString upper = name.toUpper();
  if (Find(upper)) return;
  FEntries.emplace_back(upper, std::make_unique<TBREvEmbeddedFunction>(expression));
  if (Prepared()) PrepareEntry(*FEntries.back().second);
}

void TBREvEnvironment::DeleteFunction(const QString& name) {
  const QString upper = name.toUpper();
  for (auto it = FEntries.begin(); it != FEntries.end(); ++it) {
    if (it->first == upper) {
      FEntries.erase(it);
      return;
    }
  }
}

TBREvEmbeddedFunction* TBREvEnvironment::Find(const QString& name) const {
  const QString upper = name.toUpper();
  for (const auto& [entryName, entry] : FEntries)
    if (entryName == upper) return entry.get();
  return nullptr;
}

std::unique_ptr<TBREvElement> TBREvEnvironment::Element(const QString& name) const {
  if (TBREvEmbeddedFunction* f = Find(name)) return std::make_unique<TBREvElementWrapper>(f);
  return std::make_unique<TBREvElementError>(Fmt(QStringLiteral("Unknown function : %s"), {name.toUpper()}));
}

void TBREvEnvironment::Value(const QString& name, TBREvResult& result) {
  if (TBREvEmbeddedFunction* f = Find(name))
    f->Evaluate(result);
  else
    result = TBREvResult::Error(Fmt(QStringLiteral("Unknown function : %s"), {name.toUpper()}));
}

TBREvElement* TBREvEnvironment::GetConstant(const QString& name) const {
  TBREvEmbeddedFunction* f = Find(name);
  return f && f->Evaluator->Prepared() ? f->Evaluator->FirstElement() : nullptr;
}

void TBREvEnvironment::SetConstant(TBREvElement* constant, const TBREvResult& value) {
  if (auto* c = dynamic_cast<TBREvElementConstant*>(constant))
    c->FValue = value;
  else if (auto* s = dynamic_cast<TBREvElementString*>(constant); s && value.Kind == TBREvResultType::resString)
    s->FValue = value.StringVal;
}

void TBREvEnvironment::SetStringConstant(TBREvElement* constant, const QString& value) {
  if (auto* s = dynamic_cast<TBREvElementString*>(constant)) s->FValue = value;
}

void TBREvEnvironment::SetIntegerConstant(TBREvElement* constant, std::int32_t value) {
  if (auto* c = dynamic_cast<TBREvElementConstant*>(constant)) c->FValue = TBREvResult::Int(value);
}

void TBREvEnvironment::SetFloatConstant(TBREvElement* constant, double value) {
  if (auto* c = dynamic_cast<TBREvElementConstant*>(constant)) c->FValue = TBREvResult::Double(value);
}

void TBREvEnvironment::SetBooleanConstant(TBREvElement* constant, bool value) {
  if (auto* c = dynamic_cast<TBREvElementConstant*>(constant)) c->FValue = TBREvResult::Bool(value);
}

// ----- the library

TBRFunctionLibrary::TBRFunctionLibrary() {
  const QString vendor = QStringLiteral("Vidora");
  const auto add = [&](const char* name, const char* data, const char* form, const char* text, auto item, const char* sep = "|") {
    FEntries.push_back({QString::fromUtf8(name), QString::fromUtf8(form) + QString::fromUtf8(sep) + QString::fromUtf8(text),
                        QString::fromUtf8(data), vendor, item});
  };
  using K = TBREvResultType;
  add("IF", "5BVV", "IF(<Exp>, <X>, <Y>)", "Returns <X> or <Y> depending on the boolean expression <Exp>", Make([](const Args& a) {
        if (a.size() != 3 || a[0].Kind != K::resBool) return WrongArguments(QStringLiteral("IF"));
        return a[0].booResult ? a[1] : a[2];
      }));
  add("STR", "7N", "STR(<X>)", "Convert a numeric <X> to a string", Make([](const Args& a) {
        if (a.size() != 1 || a[0].Kind == K::resString || a[0].Kind == K::resError)
          return TBREvResult::Error(QStringLiteral("Conversion error"));
        return TBREvResult::String(ToText(a[0]));
      }));
  add("UPPER", "7S", "UPPER(<X>)", "Converts a string to upper case letters",
      Make([](const Args& a) { return CaseFunction(a, QStringLiteral("UPPER"), 0); }));
  add("LOWER", "7S", "LOWER(<X>)", "Converts a string to lower case letters",
      Make([](const Args& a) { return CaseFunction(a, QStringLiteral("LOWER"), 1); }));
  add("PRETTY", "7S", "PRETTY(<X>)", "Makes the first character upper case and the rest lower case",
      Make([](const Args& a) { return CaseFunction(a, QStringLiteral("PRETTY"), 2); }));
  add("TIME", "1", "TIME", "Return current time as a string", Make([](const Args& a) {
        return a.empty() ? TBREvResult::String(QTime::currentTime().toString(UserFormats().LongTimeFormat)) : Empty();
      }));
  add("DATE", "1", "DATE", "Return current date as a string", Make([](const Args& a) {
        return a.empty() ? TBREvResult::String(QDate::currentDate().toString(UserFormats().ShortDateFormat)) : Empty();
      }));
  add("COPY", "7SNN", "COPY(<X>, <St>,<Len>)", "Returns a substring of string X", Make([](const Args& a) {
        if (a.size() != 3 || a[0].Kind != K::resString || a[1].Kind != K::resInt || a[2].Kind != K::resInt) return Empty();
        const QString& s = a[0].StringVal;
        std::int64_t start = std::max<std::int64_t>(a[1].intResult, 1) - 1;
        std::int64_t count = std::max<std::int64_t>(a[2].intResult, 0);
        if (start >= s.size()) return TBREvResult::String(QString());
        std::int64_t end = std::min<std::int64_t>(start + count, s.size());
        // Never half of a surrogate pair.
        if (start > 0 && start < end && s[start].isLowSurrogate() && s[start - 1].isHighSurrogate()) ++start;
        if (end > start && s[end - 1].isHighSurrogate() && end < s.size() && s[end].isLowSurrogate()) --end;
        return TBREvResult::String(s.mid(start, std::max<std::int64_t>(end - start, 0)));
      }));
  add("SUM", "3N", "SUM(<X>)", "Sums the numeric <X>", [] { return std::make_unique<TSumFunction>(false); });
  add("COUNT", "3", "COUNT", "Increments for each iteration", [] { return std::make_unique<TCountFunction>(); });
  add("MAX", "3V", "MAX(<X>)", "Returns the highest <X>", [] { return std::make_unique<TExtremeFunction>(true); });
  add("MIN", "3V", "MIN(<X>)", "Returns the lowest <X>", [] { return std::make_unique<TExtremeFunction>(false); });
  add("AVERAGE", "3N", "AVERAGE(<X>)", "Returns the average of numeric <X>", [] { return std::make_unique<TSumFunction>(true); });
  add("TRUE", "5", "TRUE", "boolean value", Make([](const Args& a) { return NoArguments(a, TBREvResult::Bool(true)); }));
  add("FALSE", "5", "FALSE", "boolean value", Make([](const Args& a) { return NoArguments(a, TBREvResult::Bool(false)); }));
  add("INT", "2N", "INT(<X>)", "Returns the integer part of <X>", Make([](const Args& a) {
        if (a.size() == 1 && a[0].Kind == K::resInt) return a[0];
        if (a.size() == 1 && a[0].Kind == K::resDouble && std::fabs(a[0].dblResult) < 2147483648.0)
          return TBREvResult::Int(static_cast<std::int32_t>(std::trunc(a[0].dblResult)));
        return WrongArguments(QStringLiteral("INT"));
      }));
  add("FRAC", "2N", "FRAC(<X>)", "Returns the fractional part of <X>", Make([](const Args& a) {
        if (a.size() == 1 && a[0].Kind == K::resInt) return TBREvResult::Double(0.0);
        if (a.size() == 1 && a[0].Kind == K::resDouble) return TBREvResult::Double(a[0].dblResult - std::trunc(a[0].dblResult));
        return Empty();
      }));
  add("SQRT", "2N", "SQRT(<X>)", "Returns square root of <X>", Make([](const Args& a) {
        if (a.size() == 1 && IsNumber(a[0]) && NumberOf(a[0]) >= 0) return TBREvResult::Double(std::sqrt(NumberOf(a[0])));
        return TBREvResult::Error(QStringLiteral("Invalid argument to SQRT function"));
      }));
  add("DIV", "2NN", "DIV(<X>, <Y>)", "Integer division of <X> by <Y>", Make([](const Args& a) {
        if (a.size() != 2 || !IsNumber(a[0]) || !IsNumber(a[1])) return WrongArguments(QStringLiteral("DIV"));
        const auto whole = [](const TBREvResult& r) -> std::int64_t {
          return r.Kind == K::resInt ? r.intResult : static_cast<std::int64_t>(std::nearbyint(r.dblResult));
        };
        const std::int64_t x = whole(a[0]), y = whole(a[1]);
        if (y == 0) return TBREvResult::Error(QStringLiteral("Division by Zero"));
        return TBREvResult::Int(Wrap(x / y));
      }), " | ");
  add("TYPEOF", "6N", "TYPEOF(<Exp>)", "Returns the data type of <Exp>", Make([](const Args& a) {
        return a.size() == 1 ? TBREvResult::String(KindName(a[0].Kind)) : WrongArguments(QStringLiteral("TypeOf"));
      }));
  add("FORMATNUMERIC", "7SN", "FORMATNUMERIC(<F>,<N>)", "Formats numeric <N> using the mask in <F>", Make([](const Args& a) {
        if (a.size() != 2 || a[0].Kind != K::resString || !IsNumber(a[1])) return Empty();
        QString text;
        if (!FormatFloat(a[0].StringVal, NumberOf(a[1]), UserFormats(), text))
          return TBREvResult::Error(QStringLiteral("Invalid format or value specified"));
        return TBREvResult::String(text);
      }));
}

const TBRLibraryEntry* TBRFunctionLibrary::Find(const QString& upperName) const {
  for (const TBRLibraryEntry& e : FEntries)
    if (e.Name == upperName) return &e;
  return nullptr;
}

TBRFunctionLibrary& FunctionLibrary() {
  static TBRFunctionLibrary library;
  return library;
}

TBREvEnvironment& GlobalEnvironment() {
  static TBREvEnvironment* environment = [] {
    FunctionLibrary();
    auto* e = new TBREvEnvironment;
    const QDateTime now = QDateTime::currentDateTime();
    const auto quoted = [](const QString& s) { return u'\'' + s + u'\''; };
    e->AddFunction(QStringLiteral("AppStartTime"), quoted(now.time().toString(UserFormats().LongTimeFormat)));
    e->AddFunction(QStringLiteral("AppStartDate"), quoted(now.date().toString(UserFormats().ShortDateFormat)));
    const QString name = QCoreApplication::applicationName();
    e->AddFunction(QStringLiteral("AppName"), quoted(name.isEmpty() ? QStringLiteral("Vidora") : name));
    return e;
  }();
  return *environment;
}

}  // namespace br
