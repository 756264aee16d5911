// Base of the four listing reports of the settlement register: A4 portrait with 10 mm
// margins, one column, a page header with the report's title, a detail band per settlement
// and the common page footer (date and time of printing, the product line, the page number
// followed by ". oldal"). The reports walk their dataset in its current order and filter.
#pragma once

#include "BandRpt.h"

namespace vidora {

class TVidora;

class TListingReport : public br::TBandRep {
  Q_OBJECT
 public:
  // The bands in creation order.
  br::TBRBand& PageHeader() const { return *FHeader; }
  br::TBRBand& Detail() const { return *FDetail; }
  br::TBRBand& PageFooter() const { return *FFooter; }

  // The centred line of the page footer naming the product and its maker.
  static const QString& ProductLine();

  // Opens the preview window over the active window and fills it while the pages are
  // generated (ListingPreview.cpp).
  void Preview() override;

 protected:
  // The report over a settlement dataset (`dataSetName` names it in expressions).
  TListingReport(const QString& name, tk::TDataSet& dataSet, const QString& dataSetName);
  // The program's instance, which records its creation.
  TListingReport(TVidora& app, const QString& name, tk::TDataSet& dataSet, const QString& dataSetName);

  // Millimetres in the reports' native tenths of a millimetre.
  static int Mm(double mm);
  static br::TBRFont TextFont(double points, bool bold = false, bool italic = false, bool underline = false);

  // The page header of `height` mm with the title (and the subtitle when not empty).
  void AddPageHeader(double height, const QString& title, const QString& subtitle);
  // The detail band of `height` mm.
  br::TBRBand& AddDetail(double height);
  // An auto-sized caption of 10 points, 4.5 mm high.
  br::TBRLabel& AddCaption(br::TBRBand& band, const QString& text, double left, double top, bool bold, bool underline);
  // A word-wrapping field box 4.5 mm high, 10 points, white unless given.
  br::TBRDBText& AddField(br::TBRBand& band, const QString& field, double left, double top, double width,
                          br::TBRAlignment alignment = br::TBRAlignment::taLeftJustify);
  // The rows of every field beside its caption (reports 10, 12, 13), down to the caption of
  // the note.
  void AddSettlementRows(br::TBRBand& band);
  // The note of the settlement below its caption.
  br::TBRDBRichText& AddNote(br::TBRBand& band, double top, double height);

 private:
  void AddPageFooter();

  br::TBRBand* FHeader = nullptr;
  br::TBRBand* FDetail = nullptr;
  br::TBRBand* FFooter = nullptr;
};

}  // namespace vidora
