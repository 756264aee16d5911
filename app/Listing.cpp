#include "Listing.h"

#include <cmath>

#include "Vidora.h"

namespace vidora {

using br::TBRAlignment;

const QString& TListingReport::ProductLine() {
  static const QString line = QStringLiteral("Vidora – Magyarország településeinek nyilvántartása – a Vidora fejlesztői");
  return line;
}

int TListingReport::Mm(double mm) { return static_cast<int>(std::lround(mm * 10.0)); }

br::TBRFont TListingReport::TextFont(double points, bool bold, bool italic, bool underline) {
  br::TBRFont font;
  font.Name = QStringLiteral("Arial");
  font.Size = points;
  font.Bold = bold;
  font.Italic = italic;
  font.Underline = underline;
  return font;
}

TListingReport::TListingReport(const QString& name, tk::TDataSet& dataSet, const QString& dataSetName) {
  setObjectName(name);
  SetDataSet(&dataSet, dataSetName);
  // A4 portrait, 10 mm margins: bottom, length, top, width, left, right, column space.
  Page.SetValues({100, 2970, 100, 2100, 100, 100, 0});
  Page.Columns = 1;
  Page.Orientation = br::TBROrientation::poPortrait;
  Page.PaperSize = br::TBRPaperSize::A4;
  SetUnits(br::TBRUnit::MM);
  Zoom = 100;
  Options.FirstPageHeader = true;
  Options.LastPageFooter = true;
  PrintIfEmpty = true;
  SnapToGrid = true;
  PrinterSettings = br::TBandRepPrinterSettings{};
  Font = TextFont(10);
  AddPageFooter();
}

TListingReport::TListingReport(TVidora& app, const QString& name, tk::TDataSet& dataSet, const QString& dataSetName)
    : TListingReport(name, dataSet, dataSetName) {
  app.Created(name);
}

void TListingReport::AddPageHeader(double height, const QString& title, const QString& subtitle) {
  br::TBRBand& band = AddBand(br::TBRBandType::rbPageHeader);
  band.Name = QStringLiteral("PageHeaderBand1");
  band.Size.Height = Mm(height);
  band.Color = br::kBRWhite;
  FHeader = &band;

  br::TBRLabel& titleLabel = band.Add<br::TBRLabel>();
  titleLabel.Name = QStringLiteral("TitleLabel");
  titleLabel.Caption = title;
  titleLabel.Size = {Mm(5.3), Mm(2.1), Mm(2.1), Mm(184.4)};
  titleLabel.Alignment = TBRAlignment::taCenter;
  titleLabel.ParentFont = false;
  titleLabel.Font = TextFont(12, true, false, true);
  titleLabel.WordWrap = true;
  if (subtitle.isEmpty()) return;
  br::TBRLabel& sub = band.Add<br::TBRLabel>();
  sub.Name = QStringLiteral("SubtitleLabel");
  sub.Caption = subtitle;
  sub.Size = {Mm(4.5), Mm(2.1), Mm(7.9), Mm(184.4)};
  sub.Alignment = TBRAlignment::taCenter;
  sub.ParentFont = false;
  sub.Font = TextFont(9, true, true);
  sub.WordWrap = true;
}

br::TBRBand& TListingReport::AddDetail(double height) {
  br::TBRBand& band = AddBand(br::TBRBandType::rbDetail);
  band.Name = QStringLiteral("DetailBand1");
  band.Size.Height = Mm(height);
  band.Color = br::kBRWhite;
  FDetail = &band;
  return band;
}

br::TBRLabel& TListingReport::AddCaption(br::TBRBand& band, const QString& text, double left, double top, bool bold,
                                         bool underline) {
  br::TBRLabel& label = band.Add<br::TBRLabel>();
  label.Caption = text;
  label.Size = {Mm(4.5), Mm(left), Mm(top), Mm(20)};
  label.AutoSize = true;
  label.WordWrap = true;
  label.ParentFont = false;
  label.Font = TextFont(10, bold, false, underline);
  return label;
}

br::TBRDBText& TListingReport::AddField(br::TBRBand& band, const QString& field, double left, double top, double width,
                                        TBRAlignment alignment) {
  br::TBRDBText& text = band.Add<br::TBRDBText>();
  text.Name = field;
  text.DataSet = DataSet();
  text.DataField = field;
  text.Size = {Mm(4.5), Mm(left), Mm(top), Mm(width)};
  text.Alignment = alignment;
  text.WordWrap = true;
  text.ParentFont = false;
  text.Font = TextFont(10);
  text.Color = br::kBRWhite;
  return text;
}

void TListingReport::AddSettlementRows(br::TBRBand& band) {
  AddCaption(band, QStringLiteral("Település:"), 2.1, 2.1, true, true);
  br::TBRDBText& name = AddField(band, QStringLiteral("TELEP"), 21.2, 2.1, 60);
  name.AutoSize = true;
  name.Font = TextFont(10, true, true);
  name.Color = br::kBRButtonFace;
  AddCaption(band, QStringLiteral("Irányító szám:"), 2.1, 8.5, true, false);
  AddField(band, QStringLiteral("IRSZ"), 27.5, 8.5, 13.0);
  AddCaption(band, QStringLiteral("Telefon körzet:"), 46.6, 8.5, true, false);
  AddField(band, QStringLiteral("TELK"), 74.1, 8.5, 10.8);
  AddCaption(band, QStringLiteral("Igazgatási rang:"), 91.0, 8.5, true, false);
  AddField(band, QStringLiteral("RANG"), 120.7, 8.5, 65.9);
  AddCaption(band, QStringLiteral("Régió:"), 2.1, 14.8, true, false);
  AddField(band, QStringLiteral("REGIO"), 14.8, 14.8, 63.8);
  AddCaption(band, QStringLiteral("Megye:"), 84.7, 14.8, true, false);
  AddField(band, QStringLiteral("MEGYE"), 98.4, 14.8, 63.8);
  AddCaption(band, QStringLiteral("Kistérség:"), 2.1, 21.2, true, false);
  AddField(band, QStringLiteral("KISTERS"), 19.8, 21.2, 63.8);
  AddCaption(band, QStringLiteral("Terület[Ha]:"), 2.1, 27.5, true, false);
  AddField(band, QStringLiteral("TERULET"), 23.3, 27.5, 34.1);
  AddCaption(band, QStringLiteral("Lakó népesség:"), 61.4, 27.5, true, false);
  AddField(band, QStringLiteral("NEPESS"), 91.0, 27.5, 32.0);
  AddCaption(band, QStringLiteral("Lakások száma:"), 127.0, 27.5, true, false);
  AddField(band, QStringLiteral("LAKAS"), 154.5, 27.5, 32.0);
  AddCaption(band, QStringLiteral("Egyéb adatok:"), 2.1, 38.1, true, false);
}

br::TBRDBRichText& TListingReport::AddNote(br::TBRBand& band, double top, double height) {
  br::TBRDBRichText& note = band.Add<br::TBRDBRichText>();
  note.Name = QStringLiteral("EGYEB");
  note.DataSet = DataSet();
  note.DataField = QStringLiteral("EGYEB");
  note.Size = {Mm(height), Mm(6.3), Mm(top), Mm(178.1)};
  note.ParentFont = false;
  note.Font = TextFont(10);
  note.Color = br::kBRWhite;
  return note;
}

void TListingReport::AddPageFooter() {
  br::TBRBand& band = AddBand(br::TBRBandType::rbPageFooter);
  band.Name = QStringLiteral("PageFooterBand1");
  band.Size.Height = Mm(10.6);
  band.Color = br::kBRWhite;
  FFooter = &band;

  br::TBRSysData& printed = band.Add<br::TBRSysData>();
  printed.Name = QStringLiteral("PrintedAt");
  printed.Data = br::TBRSysDataType::brsDateTime;
  printed.Size = {Mm(4.5), Mm(0), Mm(1.3), Mm(34.1)};
  printed.Alignment = TBRAlignment::taLeftJustify;
  printed.ParentFont = false;
  printed.Font = TextFont(10, true, true);

  br::TBRLabel& product = band.Add<br::TBRLabel>();
  product.Name = QStringLiteral("ProductLabel");
  product.Caption = ProductLine();
  product.Size = {Mm(4.5), Mm(38.1), Mm(1.3), Mm(129.4)};
  product.Alignment = TBRAlignment::taCenter;
  product.ParentFont = false;
  product.Font = TextFont(10, true);

  br::TBRSysData& page = band.Add<br::TBRSysData>();
  page.Name = QStringLiteral("PageNumber");
  page.Data = br::TBRSysDataType::brsPageNumber;
  page.Size = {Mm(4.5), Mm(167.7), Mm(1.3), Mm(10.6)};
  page.Alignment = TBRAlignment::taRightJustify;
  page.ParentFont = false;
  page.Font = TextFont(10, true, true);

  br::TBRLabel& suffix = band.Add<br::TBRLabel>();
  suffix.Name = QStringLiteral("PageSuffix");
  suffix.Caption = QStringLiteral(". oldal");
  suffix.Size = {Mm(4.5), Mm(178.3), Mm(1.3), Mm(10.6)};
  suffix.AutoSize = true;
  suffix.Alignment = TBRAlignment::taLeftJustify;
  suffix.ParentFont = false;
  suffix.Font = TextFont(10, true, true);
}

}  // namespace vidora
