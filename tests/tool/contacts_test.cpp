#include "contacts.h"

#include <gtest/gtest.h>

#include "KZ_Tarn.h"

namespace kztool {
namespace {

TEST(NormaliseNumber_SameNationalNumber, SeparatorsAndCountryPrefixesMatch) {
    struct Case {
        const char* a;
        const char* b;
        bool same;
    };
    const Case cases[] = {
        {"+49 89 765430", "089765430", true},
        {"0049 (89) 765-430", "089765430", true},
        {"+4989765430", "0049 89 765430", true},
        {"+43 1 234567", "01234567", false},      // another country is not national
        {"+43 1 234567", "0043 1 234567", true},
        {"089765430", "89765430", false},
        {"*21#", "21", true},                      // only digits count
    };
    for (const auto& c : cases)
        EXPECT_EQ(NormaliseNumber(c.a) == NormaliseNumber(c.b), c.same) << c.a << " vs " << c.b;
    EXPECT_EQ(NormaliseNumber("+49 89 765430"), "089765430");
}

// Call lists are not contacts; another phone's contacts are forgotten.
TEST(ContactBook_NameFor, FindsEntriesAndFurtherNumbersOfThePhone) {
    ContactBook book;
    book.SetPhone("001a7dda7113");
    book.AddEntry(KZ_PB_PHONEBOOK, 1, "John Doe", "+49 89 765430");
    book.AddNumber(1, KZ_PB_PHONEBOOK, "0171/2233445");
    book.AddEntry(KZ_PB_RECEIVED, 1, "Caller List", "0301111");
    book.SetPhone("001a7dda7113");   // the same phone again keeps them
    EXPECT_EQ(book.NameFor("089765430"), "John Doe");
    EXPECT_EQ(book.NameFor("+49 171 2233445"), "John Doe");
    EXPECT_EQ(book.NameFor("0301111"), "");
    EXPECT_EQ(book.NameFor(""), "");
    EXPECT_EQ(book.Size(), 2u);
    book.SetPhone("341278563412");
    EXPECT_EQ(book.NameFor("089765430"), "");
}

}  // namespace
}  // namespace kztool
