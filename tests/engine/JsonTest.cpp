#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "engine/CJsonObject.h"

namespace {

using neb::CJsonObject;

const std::string kParseError = "prase json string error at ";

// ---- Parse and ToString ----

struct RoundTrip {
  const char* name;
  std::string input;
  std::string output;
};

class JsonRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(JsonRoundTrip, ParseThenToStringGivesCompactText) {
  const RoundTrip& c = GetParam();
  CJsonObject json;
  ASSERT_TRUE(json.Parse(c.input)) << json.GetErrMsg();
  EXPECT_EQ(json.GetErrMsg(), "");
  EXPECT_EQ(json.ToString(), c.output);
  // The output is a fixed point.
  CJsonObject again;
  ASSERT_TRUE(again.Parse(c.output)) << again.GetErrMsg();
  EXPECT_EQ(again.ToString(), c.output);
}

const RoundTrip kRoundTrips[] = {
    {"EmptyObject", "{}", "{}"},
    {"EmptyArray", "[]", "[]"},
    {"WhiteSpaceDropped", " \t\r\n{ \"a\" : 1 ,\n \"b\" : [ true , false , null ] , \"c\" : { } } \n",
     R"({"a":1,"b":[true,false,null],"c":{}})"},
    {"InsertionOrderKept", R"({"z":1,"a":2,"m":3,"b":4})", R"({"z":1,"a":2,"m":3,"b":4})"},
    {"RepeatedKeyKeepsPlaceTakesLastValue", R"({"a":1,"b":2,"a":[3]})", R"({"a":[3],"b":2})"},
    {"NestedArrays", "[[[]],[{}],[[1,[2]]]]", "[[[]],[{}],[[1,[2]]]]"},
    {"Int64Edges", "[9223372036854775807,-9223372036854775808,0,-0]", "[9223372036854775807,-9223372036854775808,0,0]"},
    {"Uint64Edges", "[9223372036854775808,18446744073709551615]", "[9223372036854775808,18446744073709551615]"},
    {"IntegerAbove2Pow53StaysExact", "[9007199254740993,-9007199254740993]", "[9007199254740993,-9007199254740993]"},
    {"BeyondUint64BecomesDouble", "[18446744073709551616,-9223372036854775809]",
     "[18446744073709551616.0,-9223372036854775808.0]"},
    {"FractionOrExponentIsDouble", "[1.0,1e3,1E+3,-1.5e-3,0.5,2.50]", "[1.0,1000.0,1000.0,-0.0015,0.5,2.5]"},
    {"DoubleShortestForm", "[0.1,1e21,1e300,5e-324,1.7976931348623157e308,123456789.125]",
     "[0.1,1e+21,1e+300,5e-324,1.7976931348623157e+308,123456789.125]"},
    {"UnderflowReadsAsZero", "[1e-400,-1e-400,0.0e99999]", "[0.0,-0.0,0.0]"},
    {"Escapes", R"(["q\"b\\s\/b\bf\fn\nr\rt\tx\u0001\u001F\u007f"])",
     "[\"q\\\"b\\\\s/b\\bf\\fn\\nr\\rt\\tx\\u0001\\u001f\x7f\"]"},
    {"EscapedNulKept", R"(["a\u0000b"])", R"(["a\u0000b"])"},
    {"UnicodeEscapesBecomeUtf8", R"(["\u00e9\u4E2D\ud83d\ude00"])", "[\"\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\"]"},
    {"RawUtf8PassesThrough", "{\"\xE4\xB8\xAD\":\"\xC3\xA9\"}", "{\"\xE4\xB8\xAD\":\"\xC3\xA9\"}"},
    {"ByteOrderMarkSkipped", "\xEF\xBB\xBF{\"a\":1}", R"({"a":1})"},
    {"KeysAreEscapedToo", R"({"a\"b\n":1})", R"({"a\"b\n":1})"},
    {"MaxDepthAccepted", std::string(CJsonObject::kMaxDepth, '[') + std::string(CJsonObject::kMaxDepth, ']'),
     std::string(CJsonObject::kMaxDepth, '[') + std::string(CJsonObject::kMaxDepth, ']')},
};

INSTANTIATE_TEST_SUITE_P(Table, JsonRoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Refused documents ----

struct Refused {
  const char* name;
  std::string input;
  std::string rest;  // what follows "prase json string error at "
};

class JsonRefused : public ::testing::TestWithParam<Refused> {};

TEST_P(JsonRefused, ParseFailsWithTheRestOfTheInput) {
  const Refused& c = GetParam();
  CJsonObject json(R"({"old":1})");
  ASSERT_FALSE(json.IsEmpty());
  EXPECT_FALSE(json.Parse(c.input));
  EXPECT_TRUE(json.IsEmpty());
  EXPECT_EQ(json.ToString(), "");
  EXPECT_EQ(json.GetErrMsg(), kParseError + c.rest);
}

std::string Deep(size_t n) { return std::string(n, '[') + std::string(n, ']'); }

const Refused kRefused[] = {
    {"Empty", "", ""},
    {"OnlySpace", "  \n", ""},
    {"TopLevelNumber", "123", "123"},
    {"TopLevelString", "\"abc\"", "\"abc\""},
    {"TopLevelLiteral", " true", "true"},
    {"TruncatedObject", R"({"a":1)", ""},
    {"TruncatedAfterColon", R"({"a":)", ""},
    {"TruncatedAfterKey", R"({"a")", ""},
    {"TruncatedInString", R"({"a":"abc)", ""},
    {"TruncatedInKey", R"({"ab)", ""},
    {"TruncatedArray", "[1,2", ""},
    {"TruncatedAfterComma", "[1,", ""},
    {"TruncatedInEscape", R"(["a\)", ""},
    {"TruncatedInUnicodeEscape", R"(["a\u12)", "\\u12"},
    {"TruncatedLiteral", "[nul", "nul"},
    {"TruncatedNumberExponent", "[1e", ""},
    {"TrailingGarbage", "{} x", "x"},
    {"SecondDocument", "{}{}", "{}"},
    {"ExtraClose", "[1]]", "]"},
    {"MismatchedClose", "[1}", "}"},
    {"TrailingCommaObject", R"({"a":1,})", "}"},
    {"TrailingCommaArray", "[1,]", "]"},
    {"LeadingComma", "[,1]", ",1]"},
    {"MissingComma", "[1 2]", "2]"},
    {"MissingColon", R"({"a" 1})", "1}"},
    {"UnquotedKey", "{a:1}", "a:1}"},
    {"SingleQuotes", "{'a':1}", "'a':1}"},
    {"NumberKey", "{1:1}", "1:1}"},
    {"LeadingZero", "[01]", "1]"},
    {"PlusSign", "[+1]", "+1]"},
    {"LeadingDot", "[.5]", ".5]"},
    {"TrailingDot", "[1.]", "]"},
    {"EmptyExponent", "[1e]", "]"},
    {"LoneMinus", "[-]", "]"},
    {"HexNumber", "[0x10]", "x10]"},
    {"NaN", "[NaN]", "NaN]"},
    {"Infinity", "[-Infinity]", "Infinity]"},
    {"NumberBeyondDouble", "[1e400]", "1e400]"},
    {"NegativeNumberBeyondDouble", "[-1e309]", "-1e309]"},
    {"LongIntegerBeyondDouble", "[" + std::string(400, '9') + "]", std::string(400, '9') + "]"},
    {"BadLiteral", "[tru]", "tru]"},
    {"CapitalLiteral", "[True]", "True]"},
    {"BadEscape", R"(["a\x"])", R"(\x"])"},
    {"BadUnicodeDigit", R"(["\u12G4"])", R"(\u12G4"])"},
    {"LoneHighSurrogate", R"(["\ud800"])", R"(\ud800"])"},
    {"HighSurrogateThenText", R"(["\ud800x"])", R"(\ud800x"])"},
    {"HighSurrogateThenNonLow", R"(["\ud800\u0041"])", R"(\ud800\u0041"])"},
    {"LoneLowSurrogate", R"(["\udc00"])", R"(\udc00"])"},
    {"RawNewlineInString", "[\"a\nb\"]", "\nb\"]"},
    {"RawTabInString", "[\"a\tb\"]", "\tb\"]"},
    {"NulByteBetweenValues", std::string("[1,\0]", 5), std::string("\0]", 2)},
    {"NulByteInString", std::string("[\"a\0\"]", 6), std::string("\0\"]", 3)},
    {"CommentNotAllowed", "[1]//x", "//x"},
    {"TooDeep", Deep(CJsonObject::kMaxDepth + 1), Deep(CJsonObject::kMaxDepth + 1).substr(CJsonObject::kMaxDepth)},
    {"HundredThousandOpenings", std::string(100000, '['), std::string(100000 - CJsonObject::kMaxDepth, '[')},
    {"DeepObjects", [] {
       std::string s;
       for (int i = 0; i < 5000; ++i) s += "{\"a\":";
       return s;
     }(),
     [] {
       std::string s;
       for (int i = CJsonObject::kMaxDepth; i < 5000; ++i) s += "{\"a\":";
       return s;
     }()},
};

INSTANTIATE_TEST_SUITE_P(Table, JsonRefused, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Json, ConstructFromTextParses) {
  CJsonObject good(R"({"a":[1]})");
  EXPECT_TRUE(good.IsObject());
  EXPECT_EQ(good.ToString(), R"({"a":[1]})");
  CJsonObject bad(R"({"a":)");
  EXPECT_TRUE(bad.IsEmpty());
  EXPECT_EQ(bad.GetErrMsg(), kParseError);
}

TEST(Json, ParseOfItsOwnErrorTextIsSafe) {
  CJsonObject json("{x");
  ASSERT_EQ(json.GetErrMsg(), kParseError + "x");
  EXPECT_FALSE(json.Parse(json.GetErrMsg()));
  EXPECT_EQ(json.GetErrMsg(), kParseError + kParseError + "x");
}

TEST(Json, EmptyValueWritesNothing) {
  CJsonObject json;
  EXPECT_TRUE(json.IsEmpty());
  EXPECT_FALSE(json.IsObject());
  EXPECT_FALSE(json.IsArray());
  EXPECT_EQ(json.ToString(), "");
}

// ---- Typed getters ----

const char kTyped[] = R"({"s":"text","i":-5,"i32max":2147483647,"u32max":4294967295,)"
                      R"("i64max":9223372036854775807,"i64min":-9223372036854775808,)"
                      R"("u64max":18446744073709551615,"p53":9007199254740993,)"
                      R"("d":3.9,"nd":-3.9,"huge":1e300,"t":true,"f":false,"n":null,)"
                      R"("o":{"x":1},"a":[1]})";

struct Typed {
  const char* key;
  std::optional<int32_t> i32;
  std::optional<uint32_t> u32;
  std::optional<int64_t> i64;
  std::optional<uint64_t> u64;
  std::optional<double> d;
  std::optional<bool> b;
  std::optional<std::string> s;
};

constexpr auto no = std::nullopt;

const Typed kTypedCases[] = {
    {"s", no, no, no, no, no, no, "text"},
    {"i", -5, no, -5, no, -5.0, no, no},
    {"i32max", 2147483647, 2147483647u, 2147483647, 2147483647u, 2147483647.0, no, no},
    {"u32max", no, 4294967295u, 4294967295, 4294967295u, 4294967295.0, no, no},
    {"i64max", no, no, INT64_MAX, 9223372036854775807u, 9223372036854775807.0, no, no},
    {"i64min", no, no, INT64_MIN, no, -9223372036854775808.0, no, no},
    {"u64max", no, no, no, UINT64_MAX, 18446744073709551615.0, no, no},
    {"p53", no, no, 9007199254740993, 9007199254740993u, 9007199254740992.0, no, no},
    {"d", 3, 3u, 3, 3u, 3.9, no, no},
    {"nd", -3, no, -3, no, -3.9, no, no},
    {"huge", no, no, no, no, 1e300, no, no},
    {"t", no, no, no, no, no, true, no},
    {"f", no, no, no, no, no, false, no},
    {"n", no, no, no, no, no, no, no},
    {"o", no, no, no, no, no, no, no},
    {"a", no, no, no, no, no, no, no},
    {"missing", no, no, no, no, no, no, no},
};

class JsonTypedGet : public ::testing::TestWithParam<Typed> {};

// Each getter either succeeds with the expected value or fails leaving the out value alone.
template <typename T>
void ExpectGet(const CJsonObject& json, const char* key, const std::optional<T>& expected, T sentinel) {
  T value = sentinel;
  const bool ok = json.Get(key, value);
  EXPECT_EQ(ok, expected.has_value()) << key;
  if (expected) {
    EXPECT_EQ(value, *expected) << key;
  } else {
    EXPECT_EQ(value, sentinel) << key;
  }
}

TEST_P(JsonTypedGet, GettersConvertOnlyWhatFits) {
  const Typed& c = GetParam();
  CJsonObject json;
  ASSERT_TRUE(json.Parse(kTyped)) << json.GetErrMsg();
  ExpectGet<int32_t>(json, c.key, c.i32, 77);
  ExpectGet<uint32_t>(json, c.key, c.u32, 77u);
  ExpectGet<int64_t>(json, c.key, c.i64, 77);
  ExpectGet<uint64_t>(json, c.key, c.u64, 77u);
  ExpectGet<double>(json, c.key, c.d, 77.5);
  ExpectGet<bool>(json, c.key, c.b, true);
  ExpectGet<std::string>(json, c.key, c.s, std::string("unchanged"));
  // Floats follow doubles except beyond the float range.
  float f = 7.5f;
  const bool floatOk = json.Get(c.key, f);
  EXPECT_EQ(floatOk, c.d.has_value() && std::fabs(*c.d) <= 3.4e38) << c.key;
  if (floatOk) {
    EXPECT_EQ(f, static_cast<float>(*c.d));
  }
  // Sub-objects only from objects and arrays.
  CJsonObject sub(R"({"keep":1})");
  const bool isNode = std::string(c.key) == "o" || std::string(c.key) == "a";
  EXPECT_EQ(json.Get(c.key, sub), isNode) << c.key;
  if (!isNode) {
    EXPECT_EQ(sub.ToString(), R"({"keep":1})");
  }
  EXPECT_EQ(json.IsNull(c.key), std::string(c.key) == "n");
  EXPECT_EQ(json.KeyExist(c.key), std::string(c.key) != "missing");
}

INSTANTIATE_TEST_SUITE_P(Table, JsonTypedGet, ::testing::ValuesIn(kTypedCases),
                         [](const auto& info) { return std::string(info.param.key); });

TEST(Json, SmallIntegerTypes) {
  CJsonObject json(R"({"a":200,"b":-129,"c":65535})");
  uint8_t u8 = 0;
  int8_t i8 = 0;
  uint16_t u16 = 0;
  EXPECT_TRUE(json.Get("a", u8));
  EXPECT_EQ(u8, 200);
  EXPECT_FALSE(json.Get("a", i8));
  EXPECT_FALSE(json.Get("b", i8));
  EXPECT_TRUE(json.Get("c", u16));
  EXPECT_EQ(u16, 65535);
  long long ll = 0;
  unsigned long long ull = 0;
  EXPECT_TRUE(json.Get("b", ll));
  EXPECT_EQ(ll, -129);
  EXPECT_FALSE(json.Get("b", ull));
}

TEST(Json, GettersOnArraysAndByIndex) {
  CJsonObject json(R"([1,"two",3.5,true,null,{"x":1},[2],18446744073709551615])");
  ASSERT_TRUE(json.IsArray());
  EXPECT_EQ(json.GetArraySize(), 8u);
  int32_t i = 0;
  EXPECT_TRUE(json.Get(0, i));
  EXPECT_EQ(i, 1);
  std::string s;
  EXPECT_TRUE(json.Get(1, s));
  EXPECT_EQ(s, "two");
  EXPECT_FALSE(json.Get(0, s));
  double d = 0;
  EXPECT_TRUE(json.Get(2, d));
  EXPECT_EQ(d, 3.5);
  bool b = false;
  EXPECT_TRUE(json.Get(3, b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(json.IsNull(4));
  EXPECT_FALSE(json.IsNull(3));
  EXPECT_FALSE(json.IsNull(99));
  CJsonObject sub;
  EXPECT_TRUE(json.Get(5, sub));
  EXPECT_EQ(sub.ToString(), R"({"x":1})");
  EXPECT_TRUE(json.Get(6, sub));
  EXPECT_EQ(sub.ToString(), "[2]");
  uint64_t u = 0;
  EXPECT_TRUE(json.Get(7, u));
  EXPECT_EQ(u, UINT64_MAX);
  EXPECT_FALSE(json.Get(8, i));
  // Key getters on an array, index getters on an object.
  EXPECT_FALSE(json.Get("x", i));
  EXPECT_FALSE(json.KeyExist("x"));
  CJsonObject object(R"({"0":1})");
  EXPECT_FALSE(object.Get(0, i));
  EXPECT_EQ(object.GetArraySize(), 0u);
}

TEST(Json, ValueTextOperator) {
  CJsonObject json(R"({"s":"a\"b","i":-7,"d":1.0,"b":false,"n":null,"o":{"k":[1]}})");
  EXPECT_EQ(json("s"), "a\"b");
  EXPECT_EQ(json("i"), "-7");
  EXPECT_EQ(json("d"), "1.0");
  EXPECT_EQ(json("b"), "false");
  EXPECT_EQ(json("n"), "null");
  EXPECT_EQ(json("o"), R"({"k":[1]})");
  EXPECT_EQ(json("missing"), "");
  CJsonObject array(R"(["x",2])");
  EXPECT_EQ(array(0), "x");
  EXPECT_EQ(array(1), "2");
  EXPECT_EQ(array(2), "");
}

TEST(Json, KeysInOrder) {
  CJsonObject json(R"({"b":1,"a":2,"c":{}})");
  EXPECT_EQ(json.Keys(), (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_TRUE(CJsonObject("[1]").Keys().empty());
}

// ---- Building ----

TEST(Json, BuildsAReportInInsertionOrder) {
  CJsonObject files;
  ASSERT_TRUE(files.Add(CJsonObject(R"({"id":1,"name":"a.log"})")));
  ASSERT_TRUE(files.Add(CJsonObject(R"({"id":2})")));
  CJsonObject body;
  ASSERT_TRUE(body.Add("client_sign", "SIGN"));
  ASSERT_TRUE(body.Add("pid", 14424));
  ASSERT_TRUE(body.Add("version", std::string("4.5.14.0")));
  ASSERT_TRUE(body.Add("ticket_form_id", int64_t{10310875932697}));
  ASSERT_TRUE(body.Add("big", uint64_t{18446744073709551615u}));
  ASSERT_TRUE(body.Add("neg", -9223372036854775807LL - 1));
  ASSERT_TRUE(body.Add("ok", true));
  ASSERT_TRUE(body.Add("ratio", 0.25));
  ASSERT_TRUE(body.Add("f", 0.1f));
  ASSERT_TRUE(body.Add("whole", 2.0));
  ASSERT_TRUE(body.AddNull("none"));
  ASSERT_TRUE(body.Add("files", files));
  ASSERT_TRUE(body.AddEmptySubObject("empty"));
  ASSERT_TRUE(body.AddEmptySubArray("list"));
  ASSERT_TRUE(body["list"].Add("x"));
  ASSERT_TRUE(body["list"].Add(1u));
  EXPECT_EQ(body.ToString(),
            R"({"client_sign":"SIGN","pid":14424,"version":"4.5.14.0","ticket_form_id":10310875932697,)"
            R"("big":18446744073709551615,"neg":-9223372036854775808,"ok":true,"ratio":0.25,"f":0.1,)"
            R"("whole":2.0,"none":null,"files":[{"id":1,"name":"a.log"},{"id":2}],"empty":{},"list":["x",1]})");
  // The added copy is independent of its source.
  files.Add(3);
  EXPECT_EQ(body("files"), R"([{"id":1,"name":"a.log"},{"id":2}])");
}

TEST(Json, TokenRequestBody) {
  CJsonObject body;
  body.Add("grant_type", "client_credentials");
  body.Add("app_secret", "s3cr\"t/");
  EXPECT_EQ(body.ToString(), R"({"grant_type":"client_credentials","app_secret":"s3cr\"t/"})");
}

struct AddCase {
  const char* name;
  const char* start;  // parsed first; nullptr = empty value
  bool (*op)(CJsonObject&);
  bool ok;
  const char* error;  // "" when unchanged
  const char* result;
};

const AddCase kAddCases[] = {
    {"EmptyBecomesObject", nullptr, [](CJsonObject& j) { return j.Add("a", 1); }, true, "", R"({"a":1})"},
    {"EmptyBecomesArray", nullptr, [](CJsonObject& j) { return j.Add(1); }, true, "", "[1]"},
    {"KeyExists", R"({"a":1})", [](CJsonObject& j) { return j.Add("a", 2); }, false, "key exists!", R"({"a":1})"},
    {"KeyExistsNull", R"({"a":null})", [](CJsonObject& j) { return j.Add("a", "x"); }, false, "key exists!",
     R"({"a":null})"},
    {"KeyExistsSubObject", R"({"a":{}})", [](CJsonObject& j) { return j.AddEmptySubObject("a"); }, false,
     "key exists!", R"({"a":{}})"},
    {"KeyExistsSubArray", R"({"a":1})", [](CJsonObject& j) { return j.AddEmptySubArray("a"); }, false,
     "key exists!", R"({"a":1})"},
    {"AddKeyToArray", "[1]", [](CJsonObject& j) { return j.Add("a", 1); }, false, "not a json object! json array?",
     "[1]"},
    {"AddSubArrayToArray", "[]", [](CJsonObject& j) { return j.AddEmptySubArray("a"); }, false,
     "not a json object! json array?", "[]"},
    {"AddNullToArrayByKey", "[]", [](CJsonObject& j) { return j.AddNull("a"); }, false,
     "not a json object! json array?", "[]"},
    {"AppendToObject", R"({"a":1})", [](CJsonObject& j) { return j.Add("x"); }, false,
     "not a json array! json object?", R"({"a":1})"},
    {"AppendSubObjectToObject", R"({})", [](CJsonObject& j) { return j.AddEmptySubObject(); }, false,
     "not a json array! json object?", "{}"},
    {"AddEmptyValue", R"({})", [](CJsonObject& j) { return j.Add("a", CJsonObject()); }, false,
     "json data is null!", "{}"},
    {"AppendEmptyValue", "[]", [](CJsonObject& j) { return j.Add(CJsonObject()); }, false, "json data is null!",
     "[]"},
    {"AddNullPointerText", R"({})", [](CJsonObject& j) { return j.Add("a", static_cast<const char*>(nullptr)); },
     false, "json data is null!", "{}"},
    {"AppendSubValues", "[]",
     [](CJsonObject& j) { return j.AddEmptySubObject() && j.AddEmptySubArray() && j.AddNull(); }, true, "",
     "[{},[],null]"},
    {"ReplaceKeepsPosition", R"({"a":1,"b":2})", [](CJsonObject& j) { return j.Replace("a", "x"); }, true, "",
     R"({"a":"x","b":2})"},
    {"ReplaceWithObject", R"({"a":1,"b":2})", [](CJsonObject& j) { return j.Replace("a", CJsonObject("[7]")); },
     true, "", R"({"a":[7],"b":2})"},
    {"ReplaceWithNull", R"({"a":1})", [](CJsonObject& j) { return j.ReplaceWithNull("a"); }, true, "",
     R"({"a":null})"},
    {"ReplaceMissingKey", R"({"a":1})", [](CJsonObject& j) { return j.Replace("b", 2); }, false, "key not exist!",
     R"({"a":1})"},
    {"ReplaceKeyInArray", "[1]", [](CJsonObject& j) { return j.Replace("a", 2); }, false,
     "not a json object! json array?", "[1]"},
    {"ReplaceIndex", "[1,2]", [](CJsonObject& j) { return j.Replace(1, false); }, true, "", "[1,false]"},
    {"ReplaceIndexWithArray", "[1,2]", [](CJsonObject& j) { return j.Replace(0, CJsonObject("[]")); }, true, "",
     "[[],2]"},
    {"ReplaceIndexOutOfRange", "[1]", [](CJsonObject& j) { return j.Replace(1, 2); }, false, "index out of range!",
     "[1]"},
    {"ReplaceIndexInObject", R"({"a":1})", [](CJsonObject& j) { return j.Replace(0, 2); }, false,
     "not a json array! json object?", R"({"a":1})"},
    {"DeleteKey", R"({"a":1,"b":2,"c":3})", [](CJsonObject& j) { return j.Delete("b"); }, true, "",
     R"({"a":1,"c":3})"},
    {"DeleteMissingKey", R"({"a":1})", [](CJsonObject& j) { return j.Delete("b"); }, false, "key not exist!",
     R"({"a":1})"},
    {"DeleteIndex", "[1,2,3]", [](CJsonObject& j) { return j.Delete(0); }, true, "", "[2,3]"},
    {"DeleteIndexOutOfRange", "[1]", [](CJsonObject& j) { return j.Delete(3); }, false, "index out of range!", "[1]"},
    {"DeleteIndexInObject", R"({"a":1})", [](CJsonObject& j) { return j.Delete(0); }, false,
     "not a json array! json object?", R"({"a":1})"},
    {"DeleteKeyInArray", "[1]", [](CJsonObject& j) { return j.Delete("a"); }, false,
     "not a json object! json array?", "[1]"},
};

class JsonAdd : public ::testing::TestWithParam<AddCase> {};

TEST_P(JsonAdd, ResultAndErrorText) {
  const AddCase& c = GetParam();
  CJsonObject json;
  if (c.start) {
    ASSERT_TRUE(json.Parse(c.start));
  }
  EXPECT_EQ(c.op(json), c.ok);
  EXPECT_EQ(json.GetErrMsg(), c.error);
  EXPECT_EQ(json.ToString(), c.result);
}

INSTANTIATE_TEST_SUITE_P(Table, JsonAdd, ::testing::ValuesIn(kAddCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Json, SecondAddOfTheSameKeyFailsAndTheErrorTextStays) {
  CJsonObject json;
  EXPECT_TRUE(json.Add("k", "v"));
  EXPECT_FALSE(json.Add("k", "w"));
  EXPECT_EQ(json.GetErrMsg(), "key exists!");
  EXPECT_TRUE(json.Add("other", 1));
  EXPECT_EQ(json.GetErrMsg(), "key exists!");
  EXPECT_EQ(json.ToString(), R"({"k":"v","other":1})");
  ASSERT_TRUE(json.Parse("{}"));
  EXPECT_EQ(json.GetErrMsg(), "");
}

// ---- Doubles ----

struct DoubleForm {
  double value;
  const char* text;
};

class JsonDoubleForm : public ::testing::TestWithParam<DoubleForm> {};

TEST_P(JsonDoubleForm, WrittenShortestAndReadBackExactly) {
  const DoubleForm& c = GetParam();
  CJsonObject json;
  ASSERT_TRUE(json.Add(c.value));
  const std::string text = json.ToString();
  EXPECT_EQ(text, std::string("[") + c.text + "]");
  if (!std::isfinite(c.value)) return;  // written as null
  CJsonObject back(text);
  double d = 0;
  ASSERT_TRUE(back.Get(0, d));
  EXPECT_EQ(std::memcmp(&d, &c.value, sizeof d), 0) << text;  // bit for bit, -0.0 included
  // A double stays a double: its text always carries a fraction or an exponent.
  EXPECT_NE(back(0).find_first_of(".e"), std::string::npos);
}

const DoubleForm kDoubleForms[] = {
    {1.0, "1.0"},
    {-0.0, "-0.0"},
    {0.0, "0.0"},
    {0.1, "0.1"},
    {-2.5, "-2.5"},
    {1e21, "1e+21"},
    {1e-7, "1e-07"},
    {1e300, "1e+300"},
    {5e-324, "5e-324"},
    {9007199254740992.0, "9007199254740992.0"},
    {18446744073709551616.0, "18446744073709551616.0"},
    {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
    {std::numeric_limits<double>::quiet_NaN(), "null"},
    {std::numeric_limits<double>::infinity(), "null"},
    {-std::numeric_limits<double>::infinity(), "null"},
};

INSTANTIATE_TEST_SUITE_P(Table, JsonDoubleForm, ::testing::ValuesIn(kDoubleForms));

TEST(Json, FloatsUseTheirOwnShortestText) {
  CJsonObject json;
  json.Add(0.1f);
  json.Add(1.5f);
  json.Add(3.4028235e38f);
  json.Add(1e-45f);
  EXPECT_EQ(json.ToString(), "[0.1,1.5,3.4028235e+38,1e-45]");
  float f = 0;
  ASSERT_TRUE(CJsonObject(json.ToString()).Get(0, f));
  EXPECT_EQ(f, 0.1f);
}

// ---- Sub-objects through operator[] ----

TEST(Json, ReadingThroughSubscriptLeavesTheDocumentAlone) {
  const std::string text = R"({"code":0,"data":{"id":12,"tips":null}})";
  CJsonObject json(text);
  int64_t id = 0;
  EXPECT_TRUE(json["data"].Get("id", id));
  EXPECT_EQ(id, 12);
  std::string title;
  EXPECT_FALSE(json["data"]["tips"].Get("title", title));
  EXPECT_FALSE(json["missing"]["deeper"]["still"].Get("x", title));
  EXPECT_FALSE(json["code"].Get("x", title));  // a plain member has no sub-object
  EXPECT_EQ(json.ToString(), text);
  EXPECT_FALSE(json.KeyExist("missing"));
  EXPECT_EQ(json.Keys(), (std::vector<std::string>{"code", "data"}));
  CJsonObject copy(json);
  EXPECT_EQ(copy.ToString(), text);
}

TEST(Json, WritingThroughSubscriptBuildsNestedObjects) {
  CJsonObject json;
  CJsonObject& b = json["a"]["b"];
  EXPECT_TRUE(json.IsEmpty());
  EXPECT_EQ(json.ToString(), "");
  ASSERT_TRUE(b.Add("c", 1));
  EXPECT_EQ(json.ToString(), R"({"a":{"b":{"c":1}}})");
  ASSERT_TRUE(json["list"].Add("x"));
  EXPECT_EQ(json.ToString(), R"({"a":{"b":{"c":1}},"list":["x"]})");
  // The same sub-object on each use.
  EXPECT_EQ(&json["a"]["b"], &b);
}

TEST(Json, PlaceholderTakesALaterAddOfItsKey) {
  CJsonObject json;
  json.Add("first", 1);
  CJsonObject& sub = json["sub"];
  json.Add("second", 2);
  ASSERT_TRUE(json.AddEmptySubArray("sub"));
  ASSERT_TRUE(sub.Add(5));  // still the member's value
  EXPECT_EQ(json.ToString(), R"({"first":1,"sub":[5],"second":2})");
  CJsonObject& other = json["other"];
  ASSERT_TRUE(json.Add("other", CJsonObject(R"({"k":true})")));
  EXPECT_TRUE(other.IsObject());
  EXPECT_EQ(json("other"), R"({"k":true})");
  // A placeholder is not a member: adding a plain value under its key works.
  json["plain"];
  EXPECT_TRUE(json.Add("plain", "v"));
  EXPECT_EQ(json("plain"), "v");
}

TEST(Json, ScratchForInvalidSubscriptsBelongsToNoDocument) {
  CJsonObject json(R"({"n":1,"a":[{"x":1},2]})");
  json["n"].Add("lost", 1);
  json["a"]["key"].Add("lost", 1);
  json["a"][1].Add("lost", 1);
  json["a"][9].Add("lost", 1);
  ASSERT_TRUE(json["a"][0].Add("y", 2));
  EXPECT_EQ(json.ToString(), R"({"n":1,"a":[{"x":1,"y":2},2]})");
}

TEST(Json, ClearedArrayElementIsWrittenAsNull) {
  CJsonObject json(R"([{"a":1},3])");
  json[0].Clear();
  EXPECT_EQ(json.ToString(), "[null,3]");
  EXPECT_TRUE(json.IsNull(0));
  CJsonObject sub;
  EXPECT_FALSE(json.Get(0, sub));
  json[0].Add("b", 2);
  EXPECT_EQ(json.ToString(), R"([{"b":2},3])");
  // A cleared object member leaves the document.
  CJsonObject object(R"({"a":{"x":1},"b":1})");
  object["a"].Clear();
  EXPECT_EQ(object.ToString(), R"({"b":1})");
}

// ---- Copies and moves ----

TEST(Json, CopiesAreIndependent) {
  CJsonObject a(R"({"x":[1,{"y":2}]})");
  CJsonObject b(a);
  b["x"].Add(3);
  EXPECT_EQ(a.ToString(), R"({"x":[1,{"y":2}]})");
  EXPECT_EQ(b.ToString(), R"({"x":[1,{"y":2},3]})");
  a = b;
  EXPECT_EQ(a.ToString(), b.ToString());
  CJsonObject& self = a;
  a = self;
  EXPECT_EQ(a.ToString(), b.ToString());
}

TEST(Json, MoveLeavesTheSourceEmpty) {
  CJsonObject a(R"({"x":{"y":1}})");
  CJsonObject b(std::move(a));
  EXPECT_TRUE(a.IsEmpty());  // NOLINT(bugprone-use-after-move): moved-from state is specified
  EXPECT_EQ(b.ToString(), R"({"x":{"y":1}})");
  b["x"].Add("z", 2);  // the moved sub-objects know their new owner
  EXPECT_EQ(b.ToString(), R"({"x":{"y":1,"z":2}})");
  CJsonObject c;
  c = std::move(b);
  EXPECT_EQ(c.ToString(), R"({"x":{"y":1,"z":2}})");
}

TEST(Json, AssignmentsBetweenOwnSubValues) {
  CJsonObject json(R"({"a":{"b":{"c":1}},"d":2})");
  json["a"] = json;  // a copy of the whole, placed under "a"
  EXPECT_EQ(json.ToString(), R"({"a":{"a":{"b":{"c":1}},"d":2},"d":2})");
  json = json["a"]["a"];  // a sub-value replaces its owner
  EXPECT_EQ(json.ToString(), R"({"b":{"c":1}})");
  json["x"] = std::move(json);  // moving into a sub-value copies
  EXPECT_EQ(json.ToString(), R"({"b":{"c":1},"x":{"b":{"c":1}}})");
  json = std::move(json["b"]);
  EXPECT_EQ(json.ToString(), R"({"c":1})");
  ASSERT_TRUE(json.Add("self", json));
  EXPECT_EQ(json.ToString(), R"({"c":1,"self":{"c":1}})");
  ASSERT_TRUE(json.Add("moved", std::move(json["self"])));
  EXPECT_EQ(json.ToString(), R"({"c":1,"moved":{"c":1}})");
  ASSERT_TRUE(json["moved"].Add("up", std::move(json)));
  EXPECT_EQ(json.ToString(), R"({"c":1,"moved":{"c":1,"up":{"c":1,"moved":{"c":1}}}})");
  CJsonObject out;
  ASSERT_TRUE(json.Get("moved", out));
  EXPECT_TRUE(json["moved"].Get("up", json["moved"]["up"]));  // into itself: no change
  ASSERT_TRUE(json["moved"].Get("up", json));
  EXPECT_EQ(json.ToString(), R"({"c":1,"moved":{"c":1}})");
}

// ---- Size and depth ----

TEST(Json, DeepValuesBuiltInCodeAreWrittenCopiedAndDestroyed) {
  constexpr int kLevels = 100000;
  CJsonObject json;
  CJsonObject* cur = &json;
  for (int i = 0; i < kLevels; ++i) cur = &(*cur)["a"];
  ASSERT_TRUE(cur->Add("x", 1));
  const std::string text = json.ToString();
  EXPECT_EQ(text.size(), kLevels * 6u + 7u);
  CJsonObject copy(json);
  EXPECT_EQ(copy.ToString(), text);
  json = copy;
  EXPECT_EQ(json.ToString(), text);
  // Deeper than Parse accepts.
  CJsonObject parsed;
  EXPECT_FALSE(parsed.Parse(text));
  EXPECT_EQ(parsed.GetErrMsg().substr(0, kParseError.size()), kParseError);
}

TEST(Json, LargeObjectStaysFastAndOrdered) {
  constexpr int kMembers = 200000;
  std::string text = "{";
  for (int i = 0; i < kMembers; ++i) text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":" + std::to_string(i);
  text += "}";
  CJsonObject json;
  ASSERT_TRUE(json.Parse(text));
  EXPECT_EQ(json.ToString(), text);
  for (int i = 0; i < kMembers; i += 997) {
    int v = -1;
    ASSERT_TRUE(json.Get("k" + std::to_string(i), v));
    EXPECT_EQ(v, i);
  }
  EXPECT_FALSE(json.Add("k5", 0));
  ASSERT_TRUE(json.Delete("k5"));
  EXPECT_FALSE(json.KeyExist("k5"));
  int v = 0;
  ASSERT_TRUE(json.Get("k199999", v));
  EXPECT_EQ(v, 199999);
  ASSERT_TRUE(json.Add("k5", 5));
  EXPECT_EQ(json.Keys().back(), "k5");
  // Built in code the same way.
  CJsonObject built;
  for (int i = 0; i < kMembers; ++i) ASSERT_TRUE(built.Add("k" + std::to_string(i), i));
  EXPECT_EQ(built.ToString(), text);
}

TEST(Json, HugeTextParses) {
  // About 26 MB: a long array of numbers and one long string.
  std::string text = "[";
  for (int i = 0; i < 1000000; ++i) text += "1234567890123,";
  text += "\"" + std::string(12000000, 'x') + "\"]";
  CJsonObject json;
  ASSERT_TRUE(json.Parse(text));
  EXPECT_EQ(json.GetArraySize(), 1000001u);
  EXPECT_EQ(json.ToString(), text);
  // Truncated anywhere, it fails the same way.
  EXPECT_FALSE(json.Parse(std::string_view(text).substr(0, text.size() - 2)));
  EXPECT_EQ(json.GetErrMsg(), kParseError);
}

}  // namespace
