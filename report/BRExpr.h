// Report expressions: texts such as [NEPESS] * 2, [Table1.TELEP], SUM([TERULET]) or
// IF(TYPEOF(X) = 'STRING', 'text', 'number') are parsed once into a flat sequence of elements
// (an operator is followed by the elements of its left and then its right operand, a function
// by its arguments and an argument-end mark) and evaluated as often as needed, reading the
// fields of the report's datasets. Named expressions live in environments: each report owns
// one (its page number, column number and title are constants there) and one process-wide
// global environment holds the start time, date and the program's name.
//
// Errors inside an expression are values (kind resError carrying the message); exceptions
// (EBRError) come only from evaluating an unprepared evaluator and from the As... conversions.
// GUI thread only.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "BRDisplay.h"

namespace tk {
class TDataSet;
}

namespace br {

enum class TBREvResultType : unsigned char { resInt, resDouble, resString, resBool, resError };

struct TBREvResult {
  std::uint16_t CodePage = 0;
  QString StringVal;  // the text of a string, the message of an error
  TBREvResultType Kind = TBREvResultType::resInt;
  std::int32_t intResult = 0;
  double dblResult = 0.0;
  bool booResult = false;

  static TBREvResult Int(std::int32_t v);
  static TBREvResult Double(double v);
  static TBREvResult String(const QString& v);
  static TBREvResult Bool(bool v);
  static TBREvResult Error(const QString& message);
};

enum class TBREvOperator : unsigned char {
  opLess, opLessOrEqual, opGreater, opGreaterOrEqual, opEqual, opUnequal, opPlus, opMinus, opOr, opMul, opDiv, opAnd
};

// A dataset as expressions name it: "Table1.TELEP" looks for the dataset named Table1.
struct TBRDataSetRef {
  QString Name;
  tk::TDataSet* DataSet = nullptr;
};
using TBRDataSets = std::vector<TBRDataSetRef>;

class TBRFiFo;
class TBREvaluator;
class TBREvEnvironment;

class TBREvElement {
 public:
  virtual ~TBREvElement() = default;
  // Evaluates, reading further elements of the sequence as needed.
  virtual void Value(TBRFiFo& fifo, TBREvResult& result) = 0;
  // Clears accumulated state.
  virtual void Reset() {}
  bool FIsAggreg = false;
};

class TBREvElementOperator : public TBREvElement {
 public:
  explicit TBREvElementOperator(TBREvOperator op) : FOpCode(op) {}
  void Value(TBRFiFo& fifo, TBREvResult& result) override;
  TBREvOperator FOpCode;
};

class TBREvElementConstant : public TBREvElement {
 public:
  explicit TBREvElementConstant(TBREvResult value) : FValue(std::move(value)) {}
  void Value(TBRFiFo&, TBREvResult& result) override { result = FValue; }
  TBREvResult FValue;
};

class TBREvElementString : public TBREvElement {
 public:
  explicit TBREvElementString(QString value) : FValue(std::move(value)) {}
  void Value(TBRFiFo&, TBREvResult& result) override { result = TBREvResult::String(FValue); }
  QString FValue;
};

class TBREvElementDataField : public TBREvElement {
 public:
  TBREvElementDataField(tk::TDataSet* dataSet, int fieldNo) : FDataSet(dataSet), FFieldNo(fieldNo) {}
  void Value(TBRFiFo&, TBREvResult& result) override;
  tk::TDataSet* FDataSet;
  int FFieldNo;  // index in the dataset's field list
};

class TBREvElementError : public TBREvElement {
 public:
  explicit TBREvElementError(QString message) : FErrorMessage(std::move(message)) {}
  void Value(TBRFiFo&, TBREvResult& result) override { result = TBREvResult::Error(FErrorMessage); }
  QString FErrorMessage;
};

class TBREvElementArgumentEnd : public TBREvElement {
 public:
  void Value(TBRFiFo&, TBREvResult& result) override { result = TBREvResult::Error(QString()); }
};

// not X: the negation of a Boolean.
class TBREvElementNot : public TBREvElement {
 public:
  void Value(TBRFiFo& fifo, TBREvResult& result) override;
};

class TBREvEmbeddedFunction;

// The value of an environment entry (not owned).
class TBREvElementWrapper : public TBREvElement {
 public:
  explicit TBREvElementWrapper(TBREvEmbeddedFunction* function) : FEmbeddedFunction(function) {}
  void Value(TBRFiFo& fifo, TBREvResult& result) override;
  TBREvEmbeddedFunction* FEmbeddedFunction;
};

// A library function: evaluates its arguments up to the argument-end mark, accumulates in
// aggregate mode, then calculates.
class TBREvElementFunction : public TBREvElement {
 public:
  void Value(TBRFiFo& fifo, TBREvResult& result) override;
  virtual void Aggregate() {}
  virtual void Calculate(TBREvResult& result) = 0;
  std::vector<TBREvResult> ArgList;
};

// An environment entry: its expression with an evaluator of its own.
class TBREvEmbeddedFunction : public TBREvElement {
 public:
  explicit TBREvEmbeddedFunction(QString expression);
  ~TBREvEmbeddedFunction() override;
  void Value(TBRFiFo& fifo, TBREvResult& result) override;
  // Evaluates the entry; an entry reached again while it is evaluated is an error.
  void Evaluate(TBREvResult& result);
  QString FExpression;
  std::unique_ptr<TBREvaluator> Evaluator;
  bool FInEvaluate = false;
};

// The element sequence of a prepared expression.
class TBRFiFo {
 public:
  void Put(std::unique_ptr<TBREvElement> element) { FiFo.push_back(std::move(element)); }
  void Start() noexcept { FNextItem = 0; }
  // The element at the read position (advancing), nullptr at the end.
  TBREvElement* Get() noexcept { return FNextItem < FiFo.size() ? FiFo[FNextItem++].get() : nullptr; }
  std::vector<std::unique_ptr<TBREvElement>> FiFo;
  bool FAggreg = false;
  std::size_t FNextItem = 0;
};

class TBREvaluator {
 public:
  TBREvaluator() = default;
  TBREvaluator(const TBREvaluator&) = delete;
  TBREvaluator& operator=(const TBREvaluator&) = delete;
  virtual ~TBREvaluator();

  void Prepare(const QString& expression);
  void UnPrepare();
  // Raises "Evaluator not prepared" when not prepared.
  void Value(TBREvResult& result);
  void Reset();
  // Evaluates once in aggregate mode (the value is dropped): aggregates take the current record.
  void DoAggregate();
  // Prepare, evaluate, unprepare.
  void Calculate(const QString& expression, TBREvResult& result);
  QString AsString();
  std::int32_t AsInteger();
  double AsFloat();
  bool AsBoolean();
  QVariant AsVariant();

  TBREvEnvironment* Environment() const noexcept { return FEnvironment; }
  void SetEnvironment(TBREvEnvironment* value) noexcept { FEnvironment = value; }
  const TBRDataSets& DataSets() const noexcept { return FDataSets; }
  void SetDataSets(TBRDataSets value) { FDataSets = std::move(value); }
  bool Prepared() const noexcept { return FPrepared; }
  // Some element of the sequence is an aggregate function.
  bool IsAggreg() const noexcept;
  bool Aggregate() const noexcept { return FiFo && FiFo->FAggreg; }
  void SetAggregate(bool value) noexcept { if (FiFo) FiFo->FAggreg = value; }
  // The first element of the sequence (an environment constant), nullptr when unprepared.
  TBREvElement* FirstElement() const noexcept;
  // Entries' own evaluators do not count preparations of the global environment.
  bool CountsGlobalEnvironment = true;

 protected:
  // A name with an argument text: a library function, or the error "Unknown function".
  virtual void ResolveFunction(const QString& name, const QString& arguments);
  // A name: a field of the datasets, an entry of this evaluator's environment or of the global
  // one, or the error "Unknown function".
  virtual void ResolveName(const QString& name);

 private:
  void ParseLevel1(const QString& text);
  void ParseLevel2(const QString& text);
  void ParseLevel3(const QString& text);
  void ParseFactor(const QString& text);
  void ParseNumber(const QString& text);
  void Emit(std::unique_ptr<TBREvElement> element) { FiFo->Put(std::move(element)); }
  void EmitError(const QString& message);

  // Parsing recurses per operator and parenthesis; past this depth the rest of the text is an
  // error value instead of a stack overflow.
  static constexpr int kMaxParseDepth = 1000;
  bool TooDeep();

  std::unique_ptr<TBRFiFo> FiFo;
  int FParseDepth = 0;
  bool FPrepared = false;
  TBREvEnvironment* FEnvironment = nullptr;
  TBRDataSets FDataSets;
};

class TBREvEnvironment {
 public:
  TBREvEnvironment() = default;
  TBREvEnvironment(const TBREvEnvironment&) = delete;
  TBREvEnvironment& operator=(const TBREvEnvironment&) = delete;
  ~TBREvEnvironment();

  void Clear();
  void Prepare();
  void Unprepare();
  bool Prepared() const noexcept { return FPrepareCount > 0; }
  // Adds an entry (name upper-cased) unless the name is present; prepared at once when the
  // environment is.
  void AddFunction(const QString& name, const QString& expression);
  void DeleteFunction(const QString& name);
  int Count() const noexcept { return static_cast<int>(FEntries.size()); }
  QString Name(int index) const { return FEntries.at(static_cast<std::size_t>(index)).first; }
  QString Expression(int index) const { return FEntries.at(static_cast<std::size_t>(index)).second->FExpression; }
  TBREvEmbeddedFunction* Find(const QString& name) const;
  // A wrapper for the entry, or the error element "Unknown function : NAME".
  std::unique_ptr<TBREvElement> Element(const QString& name) const;
  // The entry's value; resError when there is none.
  void Value(const QString& name, TBREvResult& result);
  // The first element of the named entry's prepared sequence; nullptr when unknown or unprepared.
  TBREvElement* GetConstant(const QString& name) const;
  static void SetConstant(TBREvElement* constant, const TBREvResult& value);
  void UpdateConstant(const QString& name, const TBREvResult& value) { SetConstant(GetConstant(name), value); }
  static void SetStringConstant(TBREvElement* constant, const QString& value);
  static void SetIntegerConstant(TBREvElement* constant, std::int32_t value);
  static void SetFloatConstant(TBREvElement* constant, double value);
  static void SetBooleanConstant(TBREvElement* constant, bool value);

  const TBRDataSets& Datasets() const noexcept { return FDatasets; }
  void SetDatasets(TBRDataSets value) { FDatasets = std::move(value); }

 private:
  void PrepareEntry(TBREvEmbeddedFunction& entry);

  std::vector<std::pair<QString, std::unique_ptr<TBREvEmbeddedFunction>>> FEntries;
  int FPrepareCount = 0;
  TBRDataSets FDatasets;
};

struct TBRLibraryEntry {
  QString Name;
  QString Description;  // call form, "|", explanation
  QString Data;         // category digit, then one letter per argument (N, S, B, V)
  QString Vendor;
  std::function<std::unique_ptr<TBREvElementFunction>()> Item;
};

// The functions expressions may call, one library per process.
class TBRFunctionLibrary {
 public:
  TBRFunctionLibrary();
  const TBRLibraryEntry* Find(const QString& upperName) const;
  const std::vector<TBRLibraryEntry>& Entries() const noexcept { return FEntries; }

 private:
  std::vector<TBRLibraryEntry> FEntries;
};

TBRFunctionLibrary& FunctionLibrary();
// The process-wide environment: AppStartTime, AppStartDate, AppName.
TBREvEnvironment& GlobalEnvironment();

}  // namespace br
