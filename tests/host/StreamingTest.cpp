// The textual object form: writing every property kind, reading it back into
// an existing component, exact strings and floats, and the errors of reading.

#include "host/Streaming.h"

#include "ClassesTestUtil.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace orvex {
namespace {

enum TSampleColor { scRed, scGreen, scBlue };
const std::vector<std::string> ColorNames = {"scRed", "scGreen", "scBlue"};
const std::vector<std::string> StyleNames = {"fsBold", "fsItalic", "fsUnderline"};

// A nested persistent.
class TSampleFont : public TPersistent {
public:
    void PublishProperties(TPropertyList& List) override
    {
        TPersistent::PublishProperties(List);
        List.AddInteger("Size", this, &TSampleFont::FSize, &TSampleFont::FSize);
        List.AddString("Face", this, &TSampleFont::FFace, &TSampleFont::FFace);
    }
    Integer FSize = 0;
    std::string FFace;
};

class TSampleLeaf : public TCollectionItem {
public:
    using TCollectionItem::TCollectionItem;
    void PublishProperties(TPropertyList& List) override
    {
        TCollectionItem::PublishProperties(List);
        List.AddString("Caption", this, &TSampleLeaf::FCaption, &TSampleLeaf::FCaption);
    }
    std::string FCaption;
};

// The values both sample classes publish.
struct TSampleValues {
    Integer FNumber = 0;
    Cardinal FFlags = 0;
    Int64 FBig = 0;
    std::string FText;
    bool FEnabled = false;
    TSampleColor FColor = scRed;
    std::uint32_t FStyle = 0;
    double FRatio = 0;
    TDateTime FStamp = 0;
    TSampleFont FFont;
};

// Every property kind, the scalar ones through member functions.
class TSampleItem : public TCollectionItem, public TSampleValues {
public:
    explicit TSampleItem(TCollection* Collection)
        : TCollectionItem(Collection), FLeaves(ItemClassOf<TSampleLeaf>())
    {
    }
    void PublishProperties(TPropertyList& List) override
    {
        TCollectionItem::PublishProperties(List);
        List.AddInteger("Number", this, &TSampleItem::Number, &TSampleItem::SetNumber);
        List.AddCardinal("Flags", this, &TSampleItem::Flags, &TSampleItem::SetFlags);
        List.AddInt64("Big", this, &TSampleItem::Big, &TSampleItem::SetBig);
        List.AddString("Text", this, &TSampleItem::Text, &TSampleItem::SetText);
        List.AddBoolean("Enabled", this, &TSampleItem::Enabled, &TSampleItem::SetEnabled);
        List.AddEnumeration("Color", ColorNames, this, &TSampleItem::Color, &TSampleItem::SetColor);
        List.AddSet(
            "Style", StyleNames, [this] { return FStyle; }, [this](std::uint32_t v) { FStyle = v; });
        List.AddFloat("Ratio", this, &TSampleItem::Ratio, &TSampleItem::SetRatio);
        List.AddDateTime("Stamp", this, &TSampleItem::Stamp, &TSampleItem::SetStamp);
        List.AddPersistent("Font", &FFont);
        List.AddCollection("Leaves", &FLeaves);
    }

    Integer Number() const { return FNumber; }
    void SetNumber(Integer v) { FNumber = v; }
    Cardinal Flags() const { return FFlags; }
    void SetFlags(Cardinal v) { FFlags = v; }
    Int64 Big() const { return FBig; }
    void SetBig(Int64 v) { FBig = v; }
    const std::string& Text() const { return FText; }
    void SetText(const std::string& v) { FText = v; }
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool v) { FEnabled = v; }
    TSampleColor Color() const { return FColor; }
    void SetColor(TSampleColor v) { FColor = v; }
    double Ratio() const { return FRatio; }
    void SetRatio(double v) { FRatio = v; }
    TDateTime Stamp() const { return FStamp; }
    void SetStamp(TDateTime v) { FStamp = v; }

    TCollection FLeaves;
};

// Every property kind on a component, the scalar ones through closures, and
// a collection of TSampleItem.
class TSample : public TComponent, public TSampleValues {
public:
    explicit TSample(TComponent* Owner = nullptr) : TComponent(Owner), FItems(ItemClassOf<TSampleItem>()) {}
    void PublishProperties(TPropertyList& List) override
    {
        TComponent::PublishProperties(List);
        List.AddInteger(
            "Number", [this] { return FNumber; }, [this](Integer v) { FNumber = v; });
        List.AddCardinal(
            "Flags", [this] { return FFlags; }, [this](Cardinal v) { FFlags = v; });
        List.AddInt64(
            "Big", [this] { return FBig; }, [this](Int64 v) { FBig = v; });
        List.AddString(
            "Text", [this] { return FText; }, [this](const std::string& v) { FText = v; });
        List.AddBoolean(
            "Enabled", [this] { return FEnabled; }, [this](bool v) { FEnabled = v; });
        List.AddEnumeration(
            "Color", ColorNames, [this] { return FColor; }, [this](int v) { FColor = TSampleColor(v); });
        List.AddSet(
            "Style", StyleNames, [this] { return FStyle; }, [this](std::uint32_t v) { FStyle = v; });
        List.AddFloat(
            "Ratio", [this] { return FRatio; }, [this](double v) { FRatio = v; });
        List.AddDateTime(
            "Stamp", [this] { return FStamp; }, [this](TDateTime v) { FStamp = v; });
        List.AddPersistent("Font", &FFont);
        List.AddCollection("Items", &FItems);
    }
    TSampleItem* Item(int Index) const { return static_cast<TSampleItem*>(FItems.Items(Index)); }
    int LoadedCalls = 0;

    TCollection FItems;

protected:
    void Loaded() override
    {
        TComponent::Loaded();
        ++LoadedCalls;
    }
};

// A component whose only property is one float or one string.
class TScalar : public TComponent {
public:
    TScalar() : TComponent(nullptr) {}
    void PublishProperties(TPropertyList& List) override
    {
        List.AddFloat(
            "F", [this] { return FFloat; }, [this](double v) { FFloat = v; });
        List.AddString(
            "S", [this] { return FString; }, [this](const std::string& v) { FString = v; });
    }
    double FFloat = 0;
    std::string FString;
};

const char* const SampleText = "object Sample1: TSample\r\n"
                               "  Number = -2147483648\r\n"
                               "  Flags = 4294967295\r\n"
                               "  Big = -9223372036854775808\r\n"
                               "  Text = 'It''s'#0#13#10#255' end'\r\n"
                               "  Enabled = True\r\n"
                               "  Color = scBlue\r\n"
                               "  Style = [fsBold, fsUnderline]\r\n"
                               "  Ratio = 0.1\r\n"
                               "  Stamp = 36526.75\r\n"
                               "  Font.Size = 10\r\n"
                               "  Font.Face = 'Arial'\r\n"
                               "  Items = <\r\n"
                               "    item\r\n"
                               "      Number = 7\r\n"
                               "      Flags = 0\r\n"
                               "      Big = 9223372036854775807\r\n"
                               "      Text = ''\r\n"
                               "      Enabled = False\r\n"
                               "      Color = scGreen\r\n"
                               "      Style = []\r\n"
                               "      Ratio = -0\r\n"
                               "      Stamp = 1E-300\r\n"
                               "      Font.Size = 0\r\n"
                               "      Font.Face = ''\r\n"
                               "      Leaves = <\r\n"
                               "        item\r\n"
                               "          Caption = 'a'\r\n"
                               "        end\r\n"
                               "        item\r\n"
                               "          Caption = 'b'\r\n"
                               "        end>\r\n"
                               "    end\r\n"
                               "    item\r\n"
                               "      Number = 0\r\n"
                               "      Flags = 16\r\n"
                               "      Big = 0\r\n"
                               "      Text = 'x'\r\n"
                               "      Enabled = True\r\n"
                               "      Color = scRed\r\n"
                               "      Style = [fsBold, fsItalic, fsUnderline]\r\n"
                               "      Ratio = 123456789.12345679\r\n"
                               "      Stamp = 5E-324\r\n"
                               "      Font.Size = -1\r\n"
                               "      Font.Face = 'Courier'\r\n"
                               "      Leaves = <>\r\n"
                               "    end>\r\n"
                               "end\r\n";

void FillSample(TSample& s)
{
    s.SetName("Sample1");
    s.FNumber = std::numeric_limits<Integer>::min();
    s.FFlags = std::numeric_limits<Cardinal>::max();
    s.FBig = std::numeric_limits<Int64>::min();
    s.FText = std::string("It's\0\r\n\xFF end", 12);
    s.FEnabled = true;
    s.FColor = scBlue;
    s.FStyle = 0b101;
    s.FRatio = 0.1;
    s.FStamp = 36526.75;
    s.FFont.FSize = 10;
    s.FFont.FFace = "Arial";
    auto* first = static_cast<TSampleItem*>(s.FItems.Add());
    first->FNumber = 7;
    first->FBig = std::numeric_limits<Int64>::max();
    first->FColor = scGreen;
    first->FRatio = -0.0;
    first->FStamp = 1e-300;
    static_cast<TSampleLeaf*>(first->FLeaves.Add())->FCaption = "a";
    static_cast<TSampleLeaf*>(first->FLeaves.Add())->FCaption = "b";
    auto* second = static_cast<TSampleItem*>(s.FItems.Add());
    second->FFlags = 16;
    second->FText = "x";
    second->FEnabled = true;
    second->FStyle = 0b111;
    second->FRatio = 123456789.123456789;
    second->FStamp = std::numeric_limits<double>::denorm_min();
    second->FFont.FSize = -1;
    second->FFont.FFace = "Courier";
}

std::uint64_t Bits(double v)
{
    return std::bit_cast<std::uint64_t>(v);
}

TEST(StreamingTest, WritesEveryKindInPublishedOrder)
{
    TSample s;
    FillSample(s);
    EXPECT_EQ(WriteComponentText(&s), SampleText);

    TSample unnamed;
    EXPECT_EQ(WriteComponentText(&unnamed).substr(0, 24), "object TSample\r\n  Number");
}

TEST(StreamingTest, ReadsBackByteForByte)
{
    TSample s;
    ReadComponentText(SampleText, &s);
    EXPECT_EQ(s.Name(), "Sample1");
    EXPECT_EQ(s.FText, std::string("It's\0\r\n\xFF end", 12));
    EXPECT_EQ(s.FStyle, 0b101u);
    EXPECT_EQ(s.FColor, scBlue);
    EXPECT_EQ(s.FFont.FFace, "Arial");
    ASSERT_EQ(s.FItems.Count(), 2);
    EXPECT_EQ(s.Item(0)->ClassName(), "TSampleItem");
    EXPECT_TRUE(std::signbit(s.Item(0)->FRatio));
    ASSERT_EQ(s.Item(0)->FLeaves.Count(), 2);
    EXPECT_EQ(static_cast<TSampleLeaf*>(s.Item(0)->FLeaves.Items(1))->FCaption, "b");
    EXPECT_EQ(WriteComponentText(&s), SampleText);
}

TEST(StreamingTest, ReadingCollectionsRecreatesTheirItems)
{
    TSample s;
    for (int i = 0; i < 5; ++i)
        static_cast<TSampleItem*>(s.FItems.Add())->FNumber = 100 + i;
    ReadComponentText("object Sample1: TSample\r\n"
                      "  Items = <\r\n"
                      "    item\r\n"
                      "      Text = 'only'\r\n"
                      "    end>\r\n"
                      "end\r\n",
                      &s);
    ASSERT_EQ(s.FItems.Count(), 1);
    EXPECT_EQ(s.Item(0)->FText, "only");
    EXPECT_EQ(s.Item(0)->FNumber, 0); // a new item, not the old first one
    EXPECT_EQ(s.Item(0)->ID(), 5);

    ReadComponentText("object Sample1: TSample Items = <> end", &s);
    EXPECT_EQ(s.FItems.Count(), 0);
}

TEST(StreamingTest, MissingPropertiesKeepTheirValues)
{
    TSample s;
    FillSample(s);
    const std::string before = WriteComponentText(&s);
    ReadComponentText("object Sample1: TSample\nText = 'changed'\nend", &s);
    EXPECT_EQ(s.FText, "changed");
    TSample expected;
    FillSample(expected);
    expected.FText = "changed";
    EXPECT_EQ(WriteComponentText(&s), WriteComponentText(&expected));
    EXPECT_EQ(s.FItems.Count(), 2); // a collection the text does not name stays
}

TEST(StreamingTest, ReaderIgnoresCaseAndLayout)
{
    TSample s;
    ReadComponentText("OBJECT TSample\r"
                      "  number=5 TEXT='a'+\n"
                      "  #66 + 'c' enabled = true color = SCGREEN style=[FSITALIC,fsBold]"
                      "  font.SIZE = 3 ratio = 1.5e3 Stamp = -INF\r\n"
                      "  items = < ITEM Leaves = < Item caption = 'z' End > End >\r\n"
                      "END",
                      &s);
    EXPECT_EQ(s.Name(), "");
    EXPECT_EQ(s.FNumber, 5);
    EXPECT_EQ(s.FText, "aBc");
    EXPECT_TRUE(s.FEnabled);
    EXPECT_EQ(s.FColor, scGreen);
    EXPECT_EQ(s.FStyle, 0b011u);
    EXPECT_EQ(s.FFont.FSize, 3);
    EXPECT_EQ(s.FRatio, 1500.0);
    EXPECT_EQ(s.FStamp, -std::numeric_limits<double>::infinity());
    ASSERT_EQ(s.FItems.Count(), 1);
    EXPECT_EQ(static_cast<TSampleLeaf*>(s.Item(0)->FLeaves.Items(0))->FCaption, "z");
}

TEST(StreamingTest, StringsRoundTripAnyBytes)
{
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    const std::vector<std::string> cases = {
        "",
        "'",
        "''",
        std::string(1, '\0'),
        all,
        all + all,
        std::string(64, 'x'),
        std::string(65, 'x'),
        std::string(200, '\''),
        std::string(130, '\xE9'),
    };
    for (const std::string& value : cases) {
        TScalar in;
        in.FString = value;
        const std::string text = WriteComponentText(&in);
        TScalar out;
        out.FString = "stale";
        ReadComponentText(text, &out);
        EXPECT_EQ(out.FString, value) << text;
        EXPECT_EQ(WriteComponentText(&out), text);
        // Only printable ASCII and line ends in the text.
        for (const char ch : text)
            EXPECT_TRUE((ch >= 32 && ch <= 126) || ch == '\r' || ch == '\n') << int(ch);
    }
}

TEST(StreamingTest, LongStringsContinueOverLines)
{
    TScalar in;
    in.FString = std::string(64, 'a') + std::string(64, 'b') + "c";
    EXPECT_EQ(WriteComponentText(&in), "object TScalar\r\n"
                                       "  F = 0\r\n"
                                       "  S =\r\n"
                                       "    '" + std::string(64, 'a') + "' +\r\n"
                                       "    '" + std::string(64, 'b') + "' +\r\n"
                                       "    'c'\r\n"
                                       "end\r\n");
}

TEST(StreamingTest, FloatsRoundTripExactly)
{
    const double values[] = {
        0.1,
        1e-300,
        -0.0,
        0.0,
        123456789.123456789,
        std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::min() / 3, // a denormal with many digits
        -std::numeric_limits<double>::min() * (1 - 1e-15),
        std::numeric_limits<double>::min(),
        std::numeric_limits<double>::max(),
        std::numeric_limits<double>::lowest(),
        1.0,
        1e22,
        1.0 / 3,
        2.0 / 3 * 1e-10,
        45291.999999988426, // a date-time just before midnight
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
    };
    for (const double value : values) {
        TScalar in;
        in.FFloat = value;
        const std::string text = WriteComponentText(&in);
        TScalar out;
        out.FFloat = 42;
        ReadComponentText(text, &out);
        EXPECT_EQ(Bits(out.FFloat), Bits(value)) << text;
        EXPECT_EQ(WriteComponentText(&out), text);
    }
    TScalar nan;
    nan.FFloat = std::numeric_limits<double>::quiet_NaN();
    ReadComponentText(WriteComponentText(&nan), &nan);
    EXPECT_TRUE(std::isnan(nan.FFloat));
}

TEST(StreamingTest, ReadingMarksTheComponentLoading)
{
    TSample s;
    ReadComponentText(SampleText, &s);
    EXPECT_EQ(s.LoadedCalls, 1);
    EXPECT_FALSE(s.HasState(csLoading));
    EXPECT_FALSE(s.HasState(csReading));

    EXPECT_THROW(ReadComponentText("object Sample1: TSample Bogus = 1 end", &s), EReadError);
    EXPECT_FALSE(s.HasState(csLoading));
    EXPECT_FALSE(s.HasState(csReading));
}

TEST(StreamingTest, HeaderNameRenamesWithinTheOwner)
{
    TComponent owner(nullptr);
    auto* a = new TSample(&owner);
    a->SetName("A");
    auto* b = new TSample(&owner);
    b->SetName("B");
    EXPECT_THROW(ReadComponentText("object A: TSample end", b), EComponentError);
    ReadComponentText("object C: TSample end", b);
    EXPECT_EQ(b->Name(), "C");
}

TEST(StreamingTest, MalformedTextChangesNothing)
{
    struct Case {
        const char* Text;
        const char* Message;
    };
    const Case cases[] = {
        {"", "'object' expected but end of text found on line 1"},
        {"object TSample\r\n  Number = 1\r\n", "Property name expected but end of text found on line 3"},
        {"object TSample\r\n  Number 1\r\nend", "'=' expected but '1' found on line 2"},
        {"object TSample\r\n  Text = 'abc\r\nend", "Unterminated string on line 2"},
        {"object TSample\n\n  Text = #256\nend", "Character code out of range on line 3"},
        {"object TSample Text = # end", "Character code expected after # on line 1"},
        {"object TSample Text = 'a' + end", "String expected but 'end' found on line 1"},
        {"object TSample Number = 12abc end", "Invalid number on line 1"},
        {"object TSample Number = 1.5E end", "Invalid number on line 1"},
        {"object TSample Style = [fsBold fsItalic] end", "',' expected but 'fsItalic' found on line 1"},
        {"object TSample Items = < Number = 1 > end", "'item' expected but 'Number' found on line 1"},
        {"object TSample Items = < item Number = 1 end end", "'item' expected but 'end' found on line 1"},
        {"object TSample\r\n  object Child: TSample\r\n  end\r\nend",
         "Nested components are not supported on line 2"},
        {"inherited TSample end", "Inherited forms are not supported on line 1"},
        {"object TSample Text = ('a') end", "Lists and binary values are not supported on line 1"},
        {"object TSample end\r\nobject TSample end", "End of text expected on line 2"},
        {"object TSample Text = \x01 end", "Invalid character #1 on line 1"},
        {"object TSample Number = end", "Property value expected but 'end' found on line 1"},
    };
    for (const Case& c : cases) {
        TSample s;
        FillSample(s);
        const std::string before = WriteComponentText(&s);
        EXPECT_RAISES(ReadComponentText(c.Text, &s), EParserError, c.Message);
        EXPECT_EQ(WriteComponentText(&s), before) << c.Text;
    }
}

TEST(StreamingTest, ValuesThatDoNotFitRaiseReadErrors)
{
    struct Case {
        const char* Text;
        const char* Message;
    };
    const Case cases[] = {
        {"object S1: TSample\r\n  Bogus = 1\r\nend", "Error reading S1.Bogus on line 2: property does not exist"},
        {"object TSample Number = 2147483648 end",
         "Error reading TSample.Number on line 1: 2147483648 is out of range"},
        {"object TSample Flags = -1 end", "Error reading TSample.Flags on line 1: -1 is out of range"},
        {"object TSample Big = 9223372036854775808 end",
         "Error reading TSample.Big on line 1: 9223372036854775808 is out of range"},
        {"object TSample Number = 1.0 end", "Error reading TSample.Number on line 1: integer expected"},
        {"object TSample Number = '1' end", "Error reading TSample.Number on line 1: integer expected"},
        {"object TSample Enabled = 1 end", "Error reading TSample.Enabled on line 1: True or False expected"},
        {"object TSample Color = scPink end", "Error reading TSample.Color on line 1: invalid value scPink"},
        {"object TSample Color = 'scRed' end",
         "Error reading TSample.Color on line 1: enumeration value expected"},
        {"object TSample Style = [fsBold, fsStrike] end",
         "Error reading TSample.Style on line 1: invalid value fsStrike"},
        {"object TSample Style = fsBold end", "Error reading TSample.Style on line 1: set expected"},
        {"object TSample Ratio = 1E400 end", "Error reading TSample.Ratio on line 1: 1E400 is out of range"},
        {"object TSample Ratio = Infinity end", "Error reading TSample.Ratio on line 1: number expected"},
        {"object TSample Text = 5 end", "Error reading TSample.Text on line 1: string expected"},
        {"object TSample Items = 5 end", "Error reading TSample.Items on line 1: collection expected"},
        {"object TSample Font = 5 end",
         "Error reading TSample.Font on line 1: an object property takes no value; set its own properties"},
        {"object TSample Font.Bogus = 5 end", "Error reading TSample.Font.Bogus on line 1: property does not exist"},
        {"object TSample Number.Size = 5 end",
         "Error reading TSample.Number.Size on line 1: property Number does not exist or has no properties"},
        {"object TSample\r\n"
         "  Items = <\r\n"
         "    item\r\n"
         "    end\r\n"
         "    item\r\n"
         "      Leaves = < item Bogus = 'x' end >\r\n"
         "    end>\r\n"
         "end",
         "Error reading TSample.Items[1].Leaves[0].Bogus on line 6: property does not exist"},
    };
    for (const Case& c : cases) {
        TSample s;
        EXPECT_RAISES(ReadComponentText(c.Text, &s), EReadError, c.Message);
    }
}

TEST(StreamingTest, PropertiesAreFoundByNameIgnoringCase)
{
    TSample s;
    TPropertyList list;
    s.PublishProperties(list);
    ASSERT_EQ(list.Count(), 11);
    EXPECT_EQ(list[0].Name, "Number");
    EXPECT_EQ(list[10].Kind, pkCollection);
    ASSERT_NE(list.Find("rAtIo"), nullptr);
    EXPECT_EQ(list.Find("rAtIo")->Kind, pkFloat);
    EXPECT_EQ(list.Find("Nope"), nullptr);
}

} // namespace
} // namespace orvex
