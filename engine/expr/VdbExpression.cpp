#include "expr/VdbExpression.h"

#include <algorithm>

#include "base/VdbAscii.h"
#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "expr/VdbSqlFunctions.h"
#include "expr/VdbTreeNodes.h"

namespace vdb {

namespace {

const TVdbDataType& Null0() { return *TVdbDataType::GetNullType(0); }

bool IsNullValue(const TVdbDataType& type, const TVdbDataValue& value) { return value.IsEmpty() || type.IsNull(value); }

std::u16string OperatorText(TVdbDataBinaryOperator op) {
  switch (op) {
    case dboPlus: return u" + ";
    case dboMinus: return u" - ";
    case dboMultiply: return u"*";
    case dboDivide: return u"/";
    case dboDiv: return u" DIV ";
    case dboMod: return u" MOD ";
    default: return u" ? ";
  }
}

TVdbTruth Negate(TVdbTruth t) { return t == vtTrue ? vtFalse : t == vtFalse ? vtTrue : vtUnknown; }

// A side that is a single literal or parameter (sign allowed): it is typed from the other side.
bool IsConstantSide(const TVdbExpression* e) {
  if (!e) return false;
  const TVdbFactor* f = e->SingleFactor();
  return f && (f->IsLiteral() || f->IsParam());
}

TVdbSimpleFactor* LiteralOrParam(const TVdbExpression* e) {
  if (!IsConstantSide(e)) return nullptr;
  return dynamic_cast<TVdbSimpleFactor*>(e->SingleFactor());
}

std::u16string EasyName(std::u16string_view name) {
  const bool plain = !name.empty() && std::all_of(name.begin(), name.end(), [](char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_' ||
           c == u'.';
  });
  return plain ? std::u16string(name) : u"[" + std::u16string(name) + u"]";
}

std::u16string ArgText(const TVdbFunctionCall& call, std::size_t i) {
  return i < call.Arguments.size() && call.Arguments[i] ? call.Arguments[i]->SqlText() : std::u16string();
}

// A call as the parser reads it back: the special forms in their own syntax, calls without
// arguments without parentheses.
std::u16string FunctionSqlText(const TVdbFunctionCall& call) {
  static constexpr std::u16string_view kExtractFields[] = {u"YEAR",   u"MONTH",       u"DAY",    u"WEEKDAY",
                                                           u"WEEKDAYNAME", u"HOUR", u"MILLISECOND",
                                                           u"MINUTE", u"SECOND",      u"WEEK"};
  switch (call.Id) {
    case sftExtractYear: case sftExtractMonth: case sftExtractDay: case sftExtractWeekDay:
    case sftExtractWeekDayName: case sftExtractHour: case sftExtractMillisecond: case sftExtractMinute:
    case sftExtractSecond: case sftExtractWeek:
      return u"EXTRACT(" + std::u16string(kExtractFields[call.Id - sftExtractYear]) + u" FROM " + ArgText(call, 0) +
             u")";
    case sftSubString: {
      std::u16string r = u"SUBSTRING(" + ArgText(call, 0) + u" FROM " + ArgText(call, 1);
      if (call.Arguments.size() > 2) r += u" FOR " + ArgText(call, 2);
      return r + u")";
    }
    case sftCast: return u"CAST(" + ArgText(call, 0) + u" AS " + VdbSqlTypeText(call.CastType) + u")";
    case sftCurrentRecordId: return u"CURRENTRECORDID(" + VdbSqlName(call.TableName) + u")";
    case sftTrimBoth: case sftTrimLeading: case sftTrimTrailing:
      if (VdbUpperAscii(call.Name) == u"TRIM") {
        const std::u16string_view dir = call.Id == sftTrimBoth      ? u"BOTH"
                                        : call.Id == sftTrimLeading ? u"LEADING"
                                                                    : u"TRAILING";
        std::u16string r = u"TRIM(" + std::u16string(dir) + u" ";
        if (call.Arguments.size() > 1) r += ArgText(call, 1) + u" ";
        return r + u"FROM " + ArgText(call, 0) + u")";
      }
      break;
    default: break;
  }
  if (call.Arguments.empty()) return call.Name;
  std::u16string r = call.Name + u"(";
  for (std::size_t i = 0; i < call.Arguments.size(); ++i) r += (i ? u", " : u"") + ArgText(call, i);
  return r + u")";
}

}  // namespace

std::u16string VdbComparisonText(TVdbComparisonOperator op) {
  switch (op) {
    case tcoEqual: return u"=";
    case tcoEqualNull: return u"=";
    case tcoUnequal: return u"<>";
    case tcoLess: return u"<";
    case tcoLessOrEqual: return u"<=";
    case tcoGreater: return u">";
    case tcoGreaterOrEqual: return u">=";
    case tcoIn: return u"IN";
    case tcoBetween: return u"BETWEEN";
    case tcoLike: return u"LIKE";
    case tcoHas: return u"HAS";
    case tcoContains: return u"CONTAINS";
    case tcoFullTextRank: return u"FULLTEXTRANK";
    case tcoIsNull: return u"IS NULL";
    case tcoIsNotNull: return u"IS NOT NULL";
    default: return {};
  }
}

std::u16string VdbQuoteSqlString(std::u16string_view text) {
  std::u16string r = u"'";
  for (char16_t c : text) {
    r += c;
    if (c == u'\'') r += c;
  }
  return r + u"'";
}

// ---------------------------------------------------------------------------------------------
// TVdbFactor

const TVdbDataValue& TVdbFactor::Calculate() {
  const TVdbDataValue& v = DoCalculate();
  if (Sign != sfsMinus) return v;
  if (FInnerType->ColumnType() == vctFloat) {
    // Floats have no unary operator of their own: the negated factor keeps the float type.
    if (IsNullValue(*FInnerType, v)) FDataType->SetNull(FValue);
    else FDataType->SetDouble(FValue, -FInnerType->GetDouble(v));
    return FValue;
  }
  TVdbDataType::Calculate(duoMinus, v, FValue, *FInnerType, *FDataType);
  return FValue;
}

void TVdbFactor::Prepare(TVdbPrepareContext& context) {
  FInnerType = PrepareInner(context);
  FDataType = FInnerType;
  if (Sign == sfsMinus && FInnerType && FInnerType->ColumnType() == vctFloat) {
    FDataType = TVdbDataType::GetVariableType(*FInnerType);
  } else if (Sign == sfsMinus && FInnerType) {
    FDataType = FInnerType->GetResultDataType(duoMinus);
    if (!FDataType) throw EVdbEngine(errTypeMismatch, {u"-" + FInnerType->SqlName()});
  }
}

std::u16string TVdbFactor::SqlText() const {
  const std::u16string sign = Sign == sfsMinus ? u"-" : Sign == sfsPlus ? u"+" : u"";
  return sign + InnerSqlText();
}

std::u16string TVdbFactor::EasyText() const {
  const std::u16string sign = Sign == sfsMinus ? u"-" : Sign == sfsPlus ? u"+" : u"";
  return sign + InnerEasyText();
}

// ---------------------------------------------------------------------------------------------
// TVdbSimpleFactor

std::unique_ptr<TVdbSimpleFactor> TVdbSimpleFactor::CreateColumnReference(std::u16string name) {
  std::unique_ptr<TVdbSimpleFactor> f(new TVdbSimpleFactor);
  f->FType = sftColumn;
  f->FColumnNameOrLiteral = std::move(name);
  return f;
}

std::unique_ptr<TVdbSimpleFactor> TVdbSimpleFactor::CreateLiteral(std::u16string text, TLiteralKind kind) {
  std::unique_ptr<TVdbSimpleFactor> f(new TVdbSimpleFactor);
  f->FType = sftLiteral;
  f->FColumnNameOrLiteral = std::move(text);
  f->FLiteralKind = kind;
  return f;
}

std::unique_ptr<TVdbSimpleFactor> TVdbSimpleFactor::CreateParameter(std::u16string name) {
  std::unique_ptr<TVdbSimpleFactor> f(new TVdbSimpleFactor);
  f->FType = sftParameter;
  f->FColumnNameOrLiteral = std::move(name);
  return f;
}

std::unique_ptr<TVdbSimpleFactor> TVdbSimpleFactor::CreateExpression(std::unique_ptr<TVdbExpression> expression) {
  std::unique_ptr<TVdbSimpleFactor> f(new TVdbSimpleFactor);
  f->FType = sftExpression;
  f->FExpression = std::move(expression);
  return f;
}

std::unique_ptr<TVdbSimpleFactor> TVdbSimpleFactor::CreateFunction(TVdbFunctionCall call) {
  std::unique_ptr<TVdbSimpleFactor> f(new TVdbSimpleFactor);
  f->FType = sftFunction;
  f->FColumnNameOrLiteral = call.Name;
  f->FFunction = std::move(call);
  return f;
}

void TVdbSimpleFactor::SetLiteralText(std::u16string text) {
  FColumnNameOrLiteral = std::move(text);
  FLiteralPrepared = false;
  FLiteralValue.Clear();
}

std::unique_ptr<TVdbFactor> TVdbSimpleFactor::CreateCopy() const {
  std::unique_ptr<TVdbSimpleFactor> f(new TVdbSimpleFactor);
  CopySignTo(*f);
  f->FType = FType;
  f->FColumnNameOrLiteral = FColumnNameOrLiteral;
  f->FLiteralKind = FLiteralKind;
  f->FExpression = CopyPtr(FExpression);
  f->FFunction.Name = FFunction.Name;
  for (const auto& a : FFunction.Arguments) f->FFunction.Arguments.push_back(a->CreateCopy());
  f->FFunction.Id = FFunction.Id;
  f->FFunction.DataFuncId = FFunction.DataFuncId;
  f->FFunction.CastType = FFunction.CastType;
  f->FFunction.TableName = FFunction.TableName;
  return f;
}

bool TVdbSimpleFactor::IsSyntacticallyEqual(const TVdbFactor& other) const {
  const auto* o = dynamic_cast<const TVdbSimpleFactor*>(&other);
  if (!o || o->Sign != Sign || o->FType != FType) return false;
  switch (FType) {
    case sftColumn: return VdbUpperAscii(FColumnNameOrLiteral) == VdbUpperAscii(o->FColumnNameOrLiteral);
    case sftLiteral: return FLiteralKind == o->FLiteralKind && FColumnNameOrLiteral == o->FColumnNameOrLiteral;
    case sftParameter: return VdbUpperAscii(FColumnNameOrLiteral) == VdbUpperAscii(o->FColumnNameOrLiteral);
    case sftExpression: return EqualPtr(FExpression, o->FExpression);
    case sftFunction: {
      const TVdbFunctionCall& a = FFunction;
      const TVdbFunctionCall& b = o->FFunction;
      // LEN and LENGTH are one function; calls the library does not know compare by name.
      if (a.Id != b.Id || (a.Id == sftNone && VdbUpperAscii(a.Name) != VdbUpperAscii(b.Name))) return false;
      if (a.Id == sftDataFunction && a.DataFuncId != b.DataFuncId) return false;
      return a.CastType == b.CastType && a.TableName == b.TableName && EqualList(a.Arguments, b.Arguments);
    }
    default: return true;
  }
}

bool TVdbSimpleFactor::IsConstant() const {
  switch (FType) {
    case sftLiteral:
    case sftParameter:
    case sftOuterReference: return true;
    case sftExpression: return FExpression->IsConstant();
    default: return false;
  }
}

const TVdbDataType* TVdbSimpleFactor::OwnLiteralType() const {
  switch (FLiteralKind) {
    case lkString:
      return TVdbDataType::GetApproxStringType(vctString, true, VDB_UNBOUNDED_LENGTH, u"", 0);
    case lkWideString:
      return TVdbDataType::GetApproxStringType(vctWideString, true, VDB_UNBOUNDED_LENGTH, u"", 0);
    case lkInteger: return TVdbDataType::GetDataType(vctBigInt, true, 0);
    case lkFloat: return TVdbDataType::GetDataType(vctFloat, true, 0);
    case lkBoolean: return TVdbDataType::GetDataType(vctBoolean, true, 0);
    case lkDate: return TVdbDataType::GetDataType(vctDate, true, 0);
    case lkTime: return TVdbDataType::GetDataType(vctTime, true, 0);
    case lkTimeStamp: return TVdbDataType::GetDataType(vctTimeStamp, true, 0);
    case lkNull: return &Null0();
  }
  return &Null0();
}

const TVdbDataType* TVdbSimpleFactor::PrepareLiteral(TVdbPrepareContext& context) {
  const std::u16string& text = FColumnNameOrLiteral;
  if (FLiteralKind == lkNull) {
    Null0().SetNull(FLiteralValue);
    FLiteralPrepared = true;
    return &Null0();
  }
  const TVdbDataType* target = OwnLiteralType();
  if (FReferenceType && FReferenceType->ColumnType() != vctNull) target = TVdbDataType::GetVariableType(*FReferenceType);
  if (FLiteralPrepared && FInnerType == target) return target;
  FLiteralValue.Clear();
  const TVdbColumnType code = target->ColumnType();
  if (code == vctBoolean) {
    const std::u16string u = VdbUpperAscii(text);
    if (u == u"JA" || u == u"TRUE") {
      target->SetInteger(FLiteralValue, 1);
    } else if (u == u"NEIN" || u == u"FALSE") {
      target->SetInteger(FLiteralValue, 0);
    } else if (text.empty()) {
      target->SetNull(FLiteralValue);
    } else {
      throw EVdbEngine(errTypeMismatch, {u"\"" + text + u"\"->" + target->SqlName()});
    }
  } else if (code == vctFloat) {
    try {
      target->ConvertFromString(FLiteralValue, text, TvuFormats::Invariant());
    } catch (const EVdbEngine&) {
      if (!(context.Options & tpoLocalFormats)) throw EVdbEngine(errInvalidNumber, {text});
      try {
        target->ConvertFromString(FLiteralValue, text, context.Formats);
      } catch (const EVdbEngine&) {
        throw EVdbEngine(errInvalidNumber, {text});
      }
    }
  } else if (target->IsInteger()) {
    // An empty text is null: the comparison is then unknown, no conversion error.
    try {
      target->ConvertFromString(FLiteralValue, text, TvuFormats::Invariant());
    } catch (const EVdbEngine& e) {
      if (e.Code() == errValueExceedsTypeRange) throw;
      throw EVdbEngine(errInvalidNumber, {text});
    }
  } else {
    target->ConvertFromString(FLiteralValue, text,
                              (context.Options & tpoLocalFormats) ? context.Formats : TvuFormats::Invariant());
  }
  if (FLiteralValue.IsEmpty()) target->SetNull(FLiteralValue);
  FLiteralPrepared = true;
  return target;
}

const TVdbDataType* TVdbSimpleFactor::PrepareInner(TVdbPrepareContext& context) {
  switch (FType) {
    case sftFunction:
      FFunction.Impl = std::make_shared<TSqlStdFunction>(FFunction);
      return FFunction.Impl->Prepare(context);
    case sftExpression:
      FExpression->Prepare(context);
      return FExpression->DataType();
    case sftColumn: {
      const TVdbDataType* type = nullptr;
      if (context.Columns && context.Columns->FindColumn(FColumnNameOrLiteral, FRltnPos, FFieldNo, type)) {
        FColumns = context.Columns;
        return type;
      }
      throw EVdbEngine(errUnknownIdentifier, {FColumnNameOrLiteral});
    }
    case sftParameter:
      // Conditions of filters and stored definitions have no parameter list.
      throw EVdbEngine(errUnknownIdentifier, {u":" + FColumnNameOrLiteral});
    case sftLiteral: return PrepareLiteral(context);
    default: throw EVdbEngine(errUnknownType, {InnerSqlText()});
  }
}

const TVdbDataValue& TVdbSimpleFactor::DoCalculate() {
  switch (FType) {
    case sftLiteral: return FLiteralValue;
    case sftColumn:
      FColumns->ColumnValue(FRltnPos, FFieldNo, FColumnRef);
      return FColumnRef;
    case sftExpression: return FExpression->Calculate();
    case sftFunction:
      if (FFunction.Impl) return FFunction.Impl->Calculate();
      [[fallthrough]];
    default: throw EVdbEngine(errNoValue, {InnerSqlText()});
  }
}

std::u16string TVdbSimpleFactor::InnerSqlText() const {
  switch (FType) {
    case sftColumn: return u"[" + FColumnNameOrLiteral + u"]";
    case sftParameter: return u":" + FColumnNameOrLiteral;
    case sftExpression: return u"(" + FExpression->SqlText() + u")";
    case sftFunction: return FunctionSqlText(FFunction);
    case sftLiteral:
      switch (FLiteralKind) {
        case lkString:
        case lkWideString: return VdbQuoteSqlString(FColumnNameOrLiteral);
        case lkDate: return u"DATE" + VdbQuoteSqlString(FColumnNameOrLiteral);
        case lkTime: return u"TIME" + VdbQuoteSqlString(FColumnNameOrLiteral);
        case lkTimeStamp: return u"TIMESTAMP" + VdbQuoteSqlString(FColumnNameOrLiteral);
        case lkNull: return u"NULL";
        case lkBoolean: return VdbUpperAscii(FColumnNameOrLiteral);
        default: return FColumnNameOrLiteral;
      }
    default: return {};
  }
}

std::u16string TVdbSimpleFactor::InnerEasyText() const {
  switch (FType) {
    case sftColumn: return EasyName(FColumnNameOrLiteral);
    case sftExpression: return u"(" + FExpression->EasyText() + u")";
    case sftLiteral:
      if (FLiteralKind == lkString || FLiteralKind == lkWideString) {
        std::u16string r = u"\"";
        for (char16_t c : FColumnNameOrLiteral) {
          r += c;
          if (c == u'"') r += c;
        }
        return r + u"\"";
      }
      if (FLiteralKind == lkNull) return u"nil";
      if (FLiteralKind == lkBoolean) return VdbUpperAscii(FColumnNameOrLiteral) == u"TRUE" ? u"true" : u"false";
      if (FLiteralKind == lkDate || FLiteralKind == lkTime || FLiteralKind == lkTimeStamp) return FColumnNameOrLiteral;
      return FColumnNameOrLiteral;
    default: return InnerSqlText();
  }
}

// ---------------------------------------------------------------------------------------------
// TVdbSqlCaseOperation

std::unique_ptr<TVdbFactor> TVdbSqlCaseOperation::CreateCopy() const {
  auto c = std::make_unique<TVdbSqlCaseOperation>();
  CopySignTo(*c);
  for (const auto& w : WhenConditions) c->WhenConditions.push_back(w->CreateCopy());
  for (const auto& t : ThenExpressions) c->ThenExpressions.push_back(t->CreateCopy());
  return c;
}

bool TVdbSqlCaseOperation::IsSyntacticallyEqual(const TVdbFactor& other) const {
  const auto* o = dynamic_cast<const TVdbSqlCaseOperation*>(&other);
  return o && o->Sign == Sign && EqualList(WhenConditions, o->WhenConditions) &&
         EqualList(ThenExpressions, o->ThenExpressions);
}

const TVdbDataType* TVdbSqlCaseOperation::PrepareInner(TVdbPrepareContext& context) {
  for (auto& w : WhenConditions) w->Prepare(context);
  const TVdbDataType* type = nullptr;
  for (auto& t : ThenExpressions) {
    t->Prepare(context);
    if (!type) {
      type = t->DataType();
    } else {
      const TVdbDataType* super = TVdbDataType::GetSuperType(*type, *t->DataType());
      if (!super) throw EVdbEngine(errTypeMismatch, {type->SqlName() + u"->" + t->DataType()->SqlName()});
      type = super;
    }
  }
  if (!type) type = &Null0();
  FConverted.assign(ThenExpressions.size() + 1, TVdbDataValue());
  return type;
}

const TVdbDataValue& TVdbSqlCaseOperation::DoCalculate() {
  std::size_t chosen = ThenExpressions.size();
  for (std::size_t i = 0; i < WhenConditions.size(); ++i) {
    if (WhenConditions[i]->Evaluate() == vtTrue) {
      chosen = i;
      break;
    }
  }
  TVdbDataValue& out = FConverted.back();
  if (chosen == ThenExpressions.size()) {
    if (ThenExpressions.size() > WhenConditions.size()) {
      chosen = ThenExpressions.size() - 1;
    } else {
      FInnerType->InitValue(out);
      FInnerType->SetNull(out);
      return out;
    }
  }
  TVdbExpression& e = *ThenExpressions[chosen];
  const TVdbDataValue& v = e.Calculate();
  out.Clear();
  if (IsNullValue(*e.DataType(), v)) {
    FInnerType->InitValue(out);
    FInnerType->SetNull(out);
  } else {
    TVdbDataType::Convert(v, out, *e.DataType(), *FInnerType, false);
  }
  return out;
}

std::u16string TVdbSqlCaseOperation::InnerSqlText() const {
  std::u16string r = u"CASE";
  for (std::size_t i = 0; i < WhenConditions.size(); ++i)
    r += u" WHEN " + WhenConditions[i]->SqlText() + u" THEN " + ThenExpressions[i]->SqlText();
  if (ThenExpressions.size() > WhenConditions.size()) r += u" ELSE " + ThenExpressions.back()->SqlText();
  return r + u" END";
}

// ---------------------------------------------------------------------------------------------
// TVdbTerm and TVdbExpression

namespace {

template <class Node>
const TVdbDataType* PrepareChain(std::vector<std::unique_ptr<Node>>& items,
                                 const std::vector<TVdbDataBinaryOperator>& ops,
                                 std::vector<const TVdbDataType*>& stepTypes, std::vector<TVdbDataValue>& steps,
                                 TVdbPrepareContext& context) {
  for (auto& i : items) i->Prepare(context);
  const TVdbDataType* acc = items.front()->DataType();
  stepTypes.clear();
  for (std::size_t i = 0; i < ops.size(); ++i) {
    const TVdbDataType* right = items[i + 1]->DataType();
    const TVdbDataType* result = TVdbDataType::GetResultDataType(ops[i], *acc, *right);
    if (!result) throw EVdbEngine(errTypeMismatch, {acc->SqlName() + u"->" + right->SqlName()});
    stepTypes.push_back(result);
    acc = result;
  }
  steps.assign(ops.size(), TVdbDataValue());
  return acc;
}

template <class Node>
const TVdbDataValue& CalculateChain(std::vector<std::unique_ptr<Node>>& items,
                                    const std::vector<TVdbDataBinaryOperator>& ops,
                                    const std::vector<const TVdbDataType*>& stepTypes,
                                    std::vector<TVdbDataValue>& steps) {
  const TVdbDataValue* acc = &items.front()->Calculate();
  const TVdbDataType* accType = items.front()->DataType();
  for (std::size_t i = 0; i < ops.size(); ++i) {
    const TVdbDataValue& right = items[i + 1]->Calculate();
    steps[i].Clear();
    TVdbDataType::Calculate(ops[i], *acc, right, steps[i], *accType, *items[i + 1]->DataType(), *stepTypes[i]);
    acc = &steps[i];
    accType = stepTypes[i];
  }
  return *acc;
}

}  // namespace

void TVdbTerm::Prepare(TVdbPrepareContext& context) {
  FDataType = PrepareChain(Factors, Operators, FStepTypes, FSteps, context);
}

const TVdbDataValue& TVdbTerm::Calculate() { return CalculateChain(Factors, Operators, FStepTypes, FSteps); }

std::unique_ptr<TVdbTerm> TVdbTerm::CreateCopy() const {
  auto t = std::make_unique<TVdbTerm>();
  for (const auto& f : Factors) t->Factors.push_back(f->CreateCopy());
  t->Operators = Operators;
  return t;
}

bool TVdbTerm::IsSyntacticallyEqual(const TVdbTerm& other) const {
  return Operators == other.Operators && EqualList(Factors, other.Factors);
}

std::u16string TVdbTerm::SqlText() const {
  std::u16string r = Factors.front()->SqlText();
  for (std::size_t i = 0; i < Operators.size(); ++i) r += OperatorText(Operators[i]) + Factors[i + 1]->SqlText();
  return r;
}

std::u16string TVdbTerm::EasyText() const {
  std::u16string r = Factors.front()->EasyText();
  for (std::size_t i = 0; i < Operators.size(); ++i) {
    const std::u16string op = Operators[i] == dboDiv ? u" div " : Operators[i] == dboMod ? u" mod " : OperatorText(Operators[i]);
    r += op + Factors[i + 1]->EasyText();
  }
  return r;
}

void TVdbExpression::Prepare(TVdbPrepareContext& context) {
  FDataType = PrepareChain(Terms, Operators, FStepTypes, FSteps, context);
}

const TVdbDataValue& TVdbExpression::Calculate() {
  try {
    const TVdbDataValue& v = CalculateChain(Terms, Operators, FStepTypes, FSteps);
    if (v.IsEmpty()) throw EVdbEngine(errNoValue, {SqlText()});
    return v;
  } catch (const EVdbEngine& e) {
    if (e.Code() == errValueExceedsTypeRange) throw EVdbEngine(errValueOutOfRange, {SqlText()});
    throw;
  }
}

std::unique_ptr<TVdbExpression> TVdbExpression::CreateCopy() const {
  auto e = std::make_unique<TVdbExpression>();
  for (const auto& t : Terms) e->Terms.push_back(t->CreateCopy());
  e->Operators = Operators;
  return e;
}

bool TVdbExpression::IsSyntacticallyEqual(const TVdbExpression& other) const {
  return Operators == other.Operators && EqualList(Terms, other.Terms);
}

std::u16string TVdbExpression::SqlText() const {
  std::u16string r = Terms.front()->SqlText();
  for (std::size_t i = 0; i < Operators.size(); ++i) r += OperatorText(Operators[i]) + Terms[i + 1]->SqlText();
  return r;
}

std::u16string TVdbExpression::EasyText() const {
  std::u16string r = Terms.front()->EasyText();
  for (std::size_t i = 0; i < Operators.size(); ++i) r += OperatorText(Operators[i]) + Terms[i + 1]->EasyText();
  return r;
}

TVdbFactor* TVdbExpression::SingleFactor() const noexcept {
  if (Terms.size() != 1 || Terms.front()->Factors.size() != 1) return nullptr;
  return Terms.front()->Factors.front().get();
}

bool TVdbExpression::IsSingleLiteral() const noexcept {
  const TVdbFactor* f = SingleFactor();
  return f && f->IsLiteral();
}

bool TVdbExpression::IsSingleColumn() const noexcept {
  const TVdbFactor* f = SingleFactor();
  return f && f->IsColumnName() && f->Sign == sfsNone;
}

bool TVdbExpression::IsConstant() const noexcept {
  for (const auto& t : Terms)
    for (const auto& f : t->Factors)
      if (!f->IsConstant()) return false;
  return true;
}

std::unique_ptr<TVdbExpression> TVdbExpression::FromFactor(std::unique_ptr<TVdbFactor> factor) {
  auto t = std::make_unique<TVdbTerm>();
  t->Factors.push_back(std::move(factor));
  auto e = std::make_unique<TVdbExpression>();
  e->Terms.push_back(std::move(t));
  return e;
}

// ---------------------------------------------------------------------------------------------
// TVdbBooleanFactor

void TVdbBooleanFactor::Prepare(TVdbPrepareContext& context) {
  if (SearchCondition) {
    SearchCondition->Prepare(context);
    return;
  }
  if (SubQuery) {
    FOptions = context.Options;
    if (ExpressionLeft) ExpressionLeft->Prepare(context);
    SubQuery->Prepare(context);
    return;
  }
  FOptions = context.Options;
  TVdbExpression* sides[] = {ExpressionLeft.get(), ExpressionRight.get(), ExpressionRightEx.get()};
  for (TVdbExpression* s : sides)
    if (s && !IsConstantSide(s)) s->Prepare(context);
  // Literals and parameters take the type of the opposite side.
  // A pattern or searched text stays text; other literals take the opposite side's type.
  const bool textual = ComparisonOperator == tcoLike || ComparisonOperator == tcoHas || ComparisonOperator == tcoContains;
  const bool leftLiteral = textual || IsConstantSide(ExpressionLeft.get());
  const bool rightLiteral = IsConstantSide(ExpressionRight.get());
  if (!leftLiteral) {
    if (auto* f = LiteralOrParam(ExpressionRight.get())) f->SetReferenceType(ExpressionLeft->DataType());
    if (auto* f = LiteralOrParam(ExpressionRightEx.get())) f->SetReferenceType(ExpressionLeft->DataType());
    for (auto& v : ValueSet)
      if (auto* f = LiteralOrParam(v.get())) f->SetReferenceType(ExpressionLeft->DataType());
  } else if (!textual && ExpressionRight && !rightLiteral) {
    if (auto* f = LiteralOrParam(ExpressionLeft.get())) f->SetReferenceType(ExpressionRight->DataType());
    if (auto* f = LiteralOrParam(ExpressionRightEx.get())) f->SetReferenceType(ExpressionRight->DataType());
  }
  for (TVdbExpression* s : sides)
    if (s && IsConstantSide(s)) s->Prepare(context);
  for (auto& v : ValueSet) v->Prepare(context);

  for (TVdbExpression* s : sides)
    if (s && !s->DataType()) throw EVdbEngine(errUnknownType, {s->SqlText()});
  const TVdbDataType& left = *ExpressionLeft->DataType();
  if (ComparisonOperator == tcoLike || ComparisonOperator == tcoHas || ComparisonOperator == tcoContains) {
    for (const TVdbExpression* s : {ExpressionLeft.get(), ExpressionRight.get()}) {
      if (s && !s->DataType()->IsString() && s->DataType()->ColumnType() != vctNull)
        throw EVdbEngine(errTypeMismatch, {s->DataType()->SqlName() + u"-> String"});
    }
  } else if (ComparisonOperator != tcoIsNull && ComparisonOperator != tcoIsNotNull) {
    auto check = [&](const TVdbExpression* s) {
      if (s && !TVdbDataType::CanCompare(left, *s->DataType()))
        throw EVdbEngine(errTypeMismatch, {s->DataType()->SqlName() + u"->" + left.SqlName()});
    };
    check(ExpressionRight.get());
    check(ExpressionRightEx.get());
    for (auto& v : ValueSet) check(v.get());
  }
  // Jokers: a trailing * of an equality literal asks for a prefix match.
  if ((FOptions & tpoUseJokers) && ComparisonOperator == tcoEqual && left.IsString()) {
    auto* f = dynamic_cast<TVdbSimpleFactor*>(ExpressionRight ? ExpressionRight->SingleFactor() : nullptr);
    if (f && f->IsLiteral() && f->Sign == sfsNone &&
        (f->LiteralKind() == TVdbSimpleFactor::lkString || f->LiteralKind() == TVdbSimpleFactor::lkWideString)) {
      const std::u16string& text = f->ColumnNameOrLiteral();
      if (!text.empty() && text.back() == u'*') {
        f->SetLiteralText(text.substr(0, text.size() - 1) + u"%");
        ExpressionRight->Prepare(context);
        ComparisonOperator = tcoLike;
      }
    }
  }
}

TVdbTruth TVdbBooleanFactor::Compare(const TVdbDataValue& left, TVdbExpression& right, TVdbComparisonOperator op) {
  const TVdbDataType& lt = *ExpressionLeft->DataType();
  const TVdbDataValue& rv = right.Calculate();
  const TVdbDataType& rt = *right.DataType();
  if (op == tcoEqualNull) {
    const bool ln = IsNullValue(lt, left), rn = IsNullValue(rt, rv);
    if (ln || rn) return ln && rn ? vtTrue : vtFalse;
  }
  return VdbComparisonTruth(TVdbDataType::Compare(left, rv, lt, rt), op);
}

TVdbTruth VdbComparisonTruth(int c, TVdbComparisonOperator op) {
  if (c < 0) throw EVdbEngine(VDB_INTERNAL_UNWIND);
  if (c == vcrUndefined) return vtUnknown;
  bool r = false;
  switch (op) {
    case tcoEqual:
    case tcoEqualNull:
    case tcoIn: r = c == vcrEqual; break;
    case tcoUnequal: r = c != vcrEqual; break;
    case tcoLess: r = c == vcrLess; break;
    case tcoLessOrEqual: r = c != vcrGreater; break;
    case tcoGreater: r = c == vcrGreater; break;
    case tcoGreaterOrEqual: r = c != vcrLess; break;
    default: break;
  }
  return r ? vtTrue : vtFalse;
}

TVdbTruth TVdbBooleanFactor::Evaluate() {
  TVdbTruth result = vtFalse;
  if (SearchCondition) {
    result = SearchCondition->Evaluate();
  } else if (SubQuery) {
    const TVdbDataValue* left = ExpressionLeft ? &ExpressionLeft->Calculate() : nullptr;
    result = SubQuery->Test(ComparisonOperator, Quantifier, left, ExpressionLeft ? ExpressionLeft->DataType() : nullptr);
  } else {
    const TVdbDataValue& left = ExpressionLeft->Calculate();
    const TVdbDataType& lt = *ExpressionLeft->DataType();
    switch (ComparisonOperator) {
      case tcoIsNull: result = IsNullValue(lt, left) ? vtTrue : vtFalse; break;
      case tcoIsNotNull: result = IsNullValue(lt, left) ? vtFalse : vtTrue; break;
      case tcoEqual:
      case tcoEqualNull:
      case tcoUnequal:
      case tcoLess:
      case tcoLessOrEqual:
      case tcoGreater:
      case tcoGreaterOrEqual: result = Compare(left, *ExpressionRight, ComparisonOperator); break;
      case tcoBetween: {
        // left <= upper AND left >= lower, with the AND's three values: an unknown upper
        // comparison and a false lower one are FALSE, so that NOT BETWEEN holds there.
        result = Compare(left, *ExpressionRight, tcoLessOrEqual);
        if (result == vtFalse) break;
        const TVdbTruth lower = Compare(left, *ExpressionRightEx, tcoGreaterOrEqual);
        if (lower != vtTrue) result = lower;
        break;
      }
      case tcoLike: {
        const TVdbDataValue& pattern = ExpressionRight->Calculate();
        const TVdbDataType& pt = *ExpressionRight->DataType();
        if (IsNullValue(lt, left) || IsNullValue(pt, pattern) || !lt.IsString()) {
          result = vtFalse;
        } else {
          result = static_cast<const TVdbStringType&>(lt).Matches(left, pattern, pt, u'%', u'_', LikeEscapeChar)
                       ? vtTrue
                       : vtFalse;
        }
        break;
      }
      case tcoHas: {
        const TVdbDataValue& right = ExpressionRight->Calculate();
        const TVdbDataType& rt = *ExpressionRight->DataType();
        if (IsNullValue(lt, left) || IsNullValue(rt, right)) {
          result = vtFalse;
        } else {
          result = lt.GetWideString(left).find(rt.GetWideString(right)) != std::u16string::npos ? vtTrue : vtFalse;
        }
        break;
      }
      case tcoIn: {
        // TRUE at the first equal item; otherwise UNKNOWN when any item was (wherever it
        // stands in the list), else FALSE.
        result = vtFalse;
        for (auto& v : ValueSet) {
          const TVdbTruth item = Compare(left, *v, tcoEqual);
          if (item == vtTrue) {
            result = vtTrue;
            break;
          }
          if (item == vtUnknown) result = vtUnknown;
        }
        break;
      }
      default: throw EVdbEngine(errNotSupported, {u"the predicate " + VdbComparisonText(ComparisonOperator)});
    }
  }
  return IsNot ? Negate(result) : result;
}

std::unique_ptr<TVdbBooleanFactor> TVdbBooleanFactor::CreateCopy() const {
  auto f = std::make_unique<TVdbBooleanFactor>();
  f->ExpressionLeft = CopyPtr(ExpressionLeft);
  f->ExpressionRight = CopyPtr(ExpressionRight);
  f->ExpressionRightEx = CopyPtr(ExpressionRightEx);
  for (const auto& v : ValueSet) f->ValueSet.push_back(v->CreateCopy());
  f->SearchCondition = CopyPtr(SearchCondition);
  f->IsNot = IsNot;
  f->ComparisonOperator = ComparisonOperator;
  f->LikeEscapeChar = LikeEscapeChar;
  f->SubQuery = SubQuery ? SubQuery->CreateCopy() : nullptr;
  f->Quantifier = Quantifier;
  return f;
}

bool TVdbBooleanFactor::IsSyntacticallyEqual(const TVdbBooleanFactor& other) const {
  return IsNot == other.IsNot && ComparisonOperator == other.ComparisonOperator &&
         LikeEscapeChar == other.LikeEscapeChar && EqualPtr(ExpressionLeft, other.ExpressionLeft) &&
         EqualPtr(ExpressionRight, other.ExpressionRight) && EqualPtr(ExpressionRightEx, other.ExpressionRightEx) &&
         EqualList(ValueSet, other.ValueSet) && EqualPtr(SearchCondition, other.SearchCondition) &&
         Quantifier == other.Quantifier && EqualPtr(SubQuery, other.SubQuery);
}

std::u16string TVdbBooleanFactor::SqlText() const {
  std::u16string r = IsNot ? u"NOT " : u"";
  if (SearchCondition) return r + u"(" + SearchCondition->SqlText() + u")";
  if (SubQuery) {
    const std::u16string query = u"(" + SubQuery->SqlText() + u")";
    if (ComparisonOperator == tcoExists || !ExpressionLeft) return r + u"EXISTS " + query;
    r += ExpressionLeft->SqlText() + u" " + VdbComparisonText(ComparisonOperator) + u" ";
    if (Quantifier == tqAll) r += u"ALL ";
    if (Quantifier == tqAny) r += u"ANY ";
    return r + query;
  }
  const std::u16string left = ExpressionLeft->SqlText();
  switch (ComparisonOperator) {
    case tcoIsNull:
    case tcoIsNotNull: return r + left + u" " + VdbComparisonText(ComparisonOperator);
    case tcoBetween:
      return r + left + u" BETWEEN " + ExpressionRightEx->SqlText() + u" AND " + ExpressionRight->SqlText();
    case tcoIn: {
      r += left + u" IN (";
      for (std::size_t i = 0; i < ValueSet.size(); ++i) r += (i ? u", " : u"") + ValueSet[i]->SqlText();
      return r + u")";
    }
    case tcoEqualNull: {
      // No operator of its own in the syntax: the form it was optimised from.
      const std::u16string right = ExpressionRight->SqlText();
      return r + u"(" + left + u" = " + right + u" OR " + left + u" IS NULL AND " + right + u" IS NULL)";
    }
    default: {
      r += left + u" " + VdbComparisonText(ComparisonOperator) + u" " + ExpressionRight->SqlText();
      if (ComparisonOperator == tcoLike && LikeEscapeChar)
        r += u" ESCAPE " + VdbQuoteSqlString(std::u16string(1, LikeEscapeChar));
      return r;
    }
  }
}

std::u16string TVdbBooleanFactor::EasyText() const {
  std::u16string r = IsNot ? u"not " : u"";
  if (SearchCondition) return r + u"(" + SearchCondition->EasyText() + u")";
  if (SubQuery) return SqlText();
  const std::u16string left = ExpressionLeft->EasyText();
  switch (ComparisonOperator) {
    case tcoIsNull: return r + left + u" = nil";
    case tcoIsNotNull: return r + left + u" <> nil";
    case tcoBetween:
      return r + left + u" between " + ExpressionRightEx->EasyText() + u" and " + ExpressionRight->EasyText();
    case tcoIn: {
      r += left + u" in [";
      for (std::size_t i = 0; i < ValueSet.size(); ++i) r += (i ? u", " : u"") + ValueSet[i]->EasyText();
      return r + u"]";
    }
    case tcoEqualNull: return r + left + u" == " + ExpressionRight->EasyText();
    case tcoLike: return r + left + u" like " + ExpressionRight->EasyText();
    case tcoHas: return r + left + u" has " + ExpressionRight->EasyText();
    default: return r + left + u" " + VdbComparisonText(ComparisonOperator) + u" " + ExpressionRight->EasyText();
  }
}

// ---------------------------------------------------------------------------------------------
// TVdbBooleanTerm and TVdbSearchCondition

void TVdbBooleanTerm::Prepare(TVdbPrepareContext& context) {
  for (auto& f : Factors) f->Prepare(context);
}

TVdbTruth TVdbBooleanTerm::Evaluate() {
  TVdbTruth result = vtTrue;
  for (auto& f : Factors) {
    const TVdbTruth r = f->Evaluate();
    if (r == vtFalse) return vtFalse;
    if (r == vtUnknown) result = vtUnknown;
  }
  return result;
}

std::unique_ptr<TVdbBooleanTerm> TVdbBooleanTerm::CreateCopy() const {
  auto t = std::make_unique<TVdbBooleanTerm>();
  for (const auto& f : Factors) t->Factors.push_back(f->CreateCopy());
  return t;
}

bool TVdbBooleanTerm::IsSyntacticallyEqual(const TVdbBooleanTerm& other) const { return EqualList(Factors, other.Factors); }

std::u16string TVdbBooleanTerm::SqlText() const {
  std::u16string r;
  for (std::size_t i = 0; i < Factors.size(); ++i) r += (i ? u" AND " : u"") + Factors[i]->SqlText();
  return r;
}

std::u16string TVdbBooleanTerm::EasyText() const {
  std::u16string r;
  for (std::size_t i = 0; i < Factors.size(); ++i) r += (i ? u" and " : u"") + Factors[i]->EasyText();
  return r;
}

void TVdbSearchCondition::Prepare(TVdbPrepareContext& context) {
  for (auto& t : Terms) t->Prepare(context);
}

TVdbTruth TVdbSearchCondition::Evaluate() {
  TVdbTruth result = vtFalse;
  for (auto& t : Terms) {
    const TVdbTruth r = t->Evaluate();
    if (r == vtTrue) return vtTrue;
    if (r == vtUnknown) result = vtUnknown;
  }
  return result;
}

std::unique_ptr<TVdbSearchCondition> TVdbSearchCondition::CreateCopy() const {
  auto c = std::make_unique<TVdbSearchCondition>();
  for (const auto& t : Terms) c->Terms.push_back(t->CreateCopy());
  return c;
}

bool TVdbSearchCondition::IsSyntacticallyEqual(const TVdbSearchCondition& other) const {
  return EqualList(Terms, other.Terms);
}

std::u16string TVdbSearchCondition::SqlText() const {
  std::u16string r;
  for (std::size_t i = 0; i < Terms.size(); ++i) r += (i ? u" OR " : u"") + Terms[i]->SqlText();
  return r;
}

std::u16string TVdbSearchCondition::EasyText() const {
  std::u16string r;
  for (std::size_t i = 0; i < Terms.size(); ++i) r += (i ? u" or " : u"") + Terms[i]->EasyText();
  return r;
}

namespace {

bool IsPlainPredicate(const TVdbBooleanFactor& f, TVdbComparisonOperator op) {
  return !f.SearchCondition && !f.SubQuery && !f.IsNot && f.ComparisonOperator == op;
}

// The factors of a term that reads a IS NULL AND b IS NULL, directly or in parentheses.
const std::vector<std::unique_ptr<TVdbBooleanFactor>>* BothNullFactors(const TVdbBooleanTerm& term) {
  if (term.Factors.size() == 2) return &term.Factors;
  if (term.Factors.size() == 1 && term.Factors[0]->SearchCondition && !term.Factors[0]->IsNot) {
    const auto& inner = *term.Factors[0]->SearchCondition;
    if (inner.Terms.size() == 1 && inner.Terms[0]->Factors.size() == 2) return &inner.Terms[0]->Factors;
  }
  return nullptr;
}

// a = b (or NOT a <> b) with a IS NULL AND b IS NULL (either order): the null-safe equality.
std::unique_ptr<TVdbBooleanFactor> NullSafeEquality(const TVdbBooleanTerm& eqTerm, const TVdbBooleanTerm& nullTerm) {
  if (eqTerm.Factors.size() != 1) return nullptr;
  const TVdbBooleanFactor& eq = *eqTerm.Factors[0];
  if (eq.SearchCondition || eq.SubQuery) return nullptr;
  const bool isEqual = (!eq.IsNot && eq.ComparisonOperator == tcoEqual) || (eq.IsNot && eq.ComparisonOperator == tcoUnequal);
  if (!isEqual) return nullptr;
  const auto* nulls = BothNullFactors(nullTerm);
  if (!nulls) return nullptr;
  const TVdbBooleanFactor& n1 = *(*nulls)[0];
  const TVdbBooleanFactor& n2 = *(*nulls)[1];
  if (!IsPlainPredicate(n1, tcoIsNull) || !IsPlainPredicate(n2, tcoIsNull)) return nullptr;
  const auto& a = *eq.ExpressionLeft;
  const auto& b = *eq.ExpressionRight;
  const bool match = (n1.ExpressionLeft->IsSyntacticallyEqual(a) && n2.ExpressionLeft->IsSyntacticallyEqual(b)) ||
                     (n1.ExpressionLeft->IsSyntacticallyEqual(b) && n2.ExpressionLeft->IsSyntacticallyEqual(a));
  if (!match) return nullptr;
  auto f = std::make_unique<TVdbBooleanFactor>();
  f->ExpressionLeft = a.CreateCopy();
  f->ExpressionRight = b.CreateCopy();
  f->ComparisonOperator = tcoEqualNull;
  return f;
}

}  // namespace

void TVdbSearchCondition::Optimize() {
  for (auto& term : Terms) {
    for (auto& factor : term->Factors) {
      if (!factor->SearchCondition) continue;
      factor->SearchCondition->Optimize();
      auto& inner = *factor->SearchCondition;
      if (inner.Terms.size() == 1 && inner.Terms[0]->Factors.size() == 1) {
        std::unique_ptr<TVdbBooleanFactor> single = std::move(inner.Terms[0]->Factors[0]);
        single->IsNot = single->IsNot != factor->IsNot;
        factor = std::move(single);
      }
    }
  }
  if (Terms.size() == 1 && Terms[0]->Factors.size() == 1 && !Terms[0]->Factors[0]->IsNot &&
      Terms[0]->Factors[0]->SearchCondition) {
    std::unique_ptr<TVdbSearchCondition> inner = std::move(Terms[0]->Factors[0]->SearchCondition);
    Terms = std::move(inner->Terms);
  }
  if (Terms.size() == 2) {
    auto f = NullSafeEquality(*Terms[0], *Terms[1]);
    if (!f) f = NullSafeEquality(*Terms[1], *Terms[0]);
    if (f) {
      auto t = std::make_unique<TVdbBooleanTerm>();
      t->Factors.push_back(std::move(f));
      Terms.clear();
      Terms.push_back(std::move(t));
    }
  }
}

bool TVdbSearchCondition::DeleteFactor(const TVdbBooleanFactor* factor) {
  if (Terms.size() != 1) return false;
  auto& fs = Terms[0]->Factors;
  fs.erase(std::remove_if(fs.begin(), fs.end(), [&](const auto& f) { return f.get() == factor; }), fs.end());
  if (!fs.empty()) return false;
  Terms.clear();
  return true;
}

std::unique_ptr<TVdbSearchCondition> TVdbSearchCondition::AppendFactor(const TVdbSearchCondition& other) const {
  auto wrap = [](std::unique_ptr<TVdbSearchCondition> c) {
    auto f = std::make_unique<TVdbBooleanFactor>();
    f->SearchCondition = std::move(c);
    return f;
  };
  auto t = std::make_unique<TVdbBooleanTerm>();
  t->Factors.push_back(wrap(CreateCopy()));
  t->Factors.push_back(wrap(other.CreateCopy()));
  auto r = std::make_unique<TVdbSearchCondition>();
  r->Terms.push_back(std::move(t));
  return r;
}

}  // namespace vdb

namespace vdb {

namespace {

void VisitFactor(TVdbFactor& factor, const std::function<void(TVdbFunctionCall&)>& visit) {
  if (auto* simple = dynamic_cast<TVdbSimpleFactor*>(&factor)) {
    if (TVdbFunctionCall* call = simple->FunctionCall()) {
      visit(*call);
      for (auto& a : call->Arguments)
        if (a) VdbVisitFunctionCalls(*a, visit);
    } else if (simple->Expression()) {
      VdbVisitFunctionCalls(*simple->Expression(), visit);
    }
  } else if (auto* c = dynamic_cast<TVdbSqlCaseOperation*>(&factor)) {
    for (auto& w : c->WhenConditions) VdbVisitFunctionCalls(*w, visit);
    for (auto& t : c->ThenExpressions) VdbVisitFunctionCalls(*t, visit);
  }
}

}  // namespace

void VdbVisitFunctionCalls(TVdbExpression& expression, const std::function<void(TVdbFunctionCall&)>& visit) {
  for (auto& t : expression.Terms)
    for (auto& f : t->Factors) VisitFactor(*f, visit);
}

void VdbVisitFunctionCalls(TVdbSearchCondition& condition, const std::function<void(TVdbFunctionCall&)>& visit) {
  for (auto& t : condition.Terms) {
    for (auto& f : t->Factors) {
      if (f->SearchCondition) VdbVisitFunctionCalls(*f->SearchCondition, visit);
      for (auto* e : {f->ExpressionLeft.get(), f->ExpressionRight.get(), f->ExpressionRightEx.get()})
        if (e) VdbVisitFunctionCalls(*e, visit);
      for (auto& e : f->ValueSet)
        if (e) VdbVisitFunctionCalls(*e, visit);
    }
  }
}

}  // namespace vdb
