#include "command_language/command_parser.h"

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "command_language/command_scanner.h"
#include "command_language/compare_statement.h"
#include "command_language/loader_saves.h"
#include "command_language/map_saves.h"
#include "command_language/save_guard.h"
#include "command_language/set_argument_name.h"
#include "command_language/set_value.h"
#include "fetch/feed_fetch.h"
#include "parsing/scanner.h"
#include "ranges/range_list.h"

namespace blockset {

namespace {

/// Thrown to abandon the parse after the error has been reported; unwinding releases every
/// temporary the parse still held.
struct parse_stopped {};

/// An expression whose operand is still being read: an invert, a union, difference or
/// intersect (named by its keyword), or an assignment (named by EQUALS).
struct open_expression {
    explicit open_expression(command_token kind_, std::string name_ = {}) : kind(kind_), name(std::move(name_)) {}
    command_token kind;
    bool in_second_operand = false;
    std::string name; ///< the variable an assignment gives its value to, unless it was known
    set_value* variable = nullptr; ///< that variable, once it has been looked up and found
    expression_value first; ///< a set operation's first operand, once it has been read
};

/// What a load and a save begin with: the format or listing word, and the place (a path, or
/// none for the standard stream).
struct call_head {
    command_token word;
    bool named;
    std::string path;
    std::string listing; ///< a save's loader listing, when word is STRING
    const char* place() const { return named ? path.c_str() : nullptr; }
};

/// A parser that behaves like the LR automaton of the grammar: a production's action runs as
/// soon as its last symbol is consumed, a token is read only when the parser needs it to
/// decide, and a depth counter mirrors the LR stack (one entry per shifted token; a reduction
/// of n symbols pops n and pushes one) so that the depth limit falls exactly where the
/// automaton's stack would overflow. Expressions waiting for an operand are kept in a list of
/// their own rather than on the call stack, so the deepest nesting the depth limit allows
/// needs no more call stack than the shallowest.
class command_parser {
public:
    command_parser(scanner& language_scanner, variable_table& table)
        : scanner_(language_scanner), table_(table)
    {
    }

    void run()
    {
        try {
            push(); // the start state
            reduce(0); // script -> (empty)
            while (peek() != END_OF_INPUT) {
                if (peek() == KW_SAVE) {
                    parse_save();
                } else if (starts_fetch()) {
                    parse_fetch();
                } else if (starts_compare()) {
                    parse_compare();
                } else if (starts_map()) {
                    parse_map();
                } else {
                    parse_expression(); // the statement's value is dropped
                }
                reduce(1); // statement -> expression | save_statement
                expect(SEMICOLON);
                reduce(3); // script -> script statement ";"
            }
        } catch (const parse_stopped&) {
        }
    }

private:
    command_token peek()
    {
        if (!has_lookahead_) {
            lookahead_ = command_scanner_next_token(scanner_, token_);
            has_lookahead_ = true;
        }
        return lookahead_;
    }

    /// Shifts the lookahead (which the caller has checked) onto the stack.
    void shift()
    {
        push();
        has_lookahead_ = false;
    }

    void expect(command_token kind)
    {
        if (peek() != kind) syntax_error();
        shift();
    }

    void push()
    {
        if (!depth_.push()) {
            report_parse_error(scanner_, "yacc stack overflow");
            throw parse_stopped{};
        }
    }

    /// A production of n symbols is complete: its symbols leave the stack, its result enters.
    void reduce(int symbols)
    {
        depth_.pop(symbols);
        push();
    }

    [[noreturn]] void syntax_error()
    {
        report_parse_error(scanner_, "syntax error");
        throw parse_stopped{};
    }

    static bool is_element(command_token kind)
    {
        return kind == CIDR_LITERAL || kind == RANGE_LITERAL || kind == ADDRESS_LITERAL || kind == HOST_NAME;
    }

    /// Reads one expression. Each time an operand is complete, the expression that waits for
    /// it either goes on to its next operand or is complete itself and becomes the operand
    /// of the one around it.
    expression_value parse_expression()
    {
        for (;;) {
            std::optional<expression_value> operand = begin_expression();
            while (operand) {
                if (open_.empty()) return std::move(*operand);
                open_expression& open = open_.back();
                if (open.kind != KW_INVERT && open.kind != EQUALS && !open.in_second_operand) {
                    expect(COMMA);
                    open.first = std::move(*operand);
                    open.in_second_operand = true;
                    break;
                }
                operand = finish(open, std::move(*operand));
                open_.pop_back();
            }
        }
    }

    /// Reads the start of an expression: a whole one when it takes no operand, or else up to
    /// its first operand, leaving it open.
    std::optional<expression_value> begin_expression()
    {
        argument_.how = set_argument::form::other;
        switch (peek()) {
        case VARIABLE: return begin_variable();
        case LBRACE: return parse_set_literal();
        case KW_LOAD: return parse_load();
        case KW_UNION:
        case KW_DIFFERENCE:
        case KW_INTERSECT:
        case KW_INVERT:
            open_.emplace_back(lookahead_);
            shift();
            expect(LPAREN);
            return std::nullopt;
        default: syntax_error();
        }
    }

    /// A variable is resolved once the next token shows it is not assigned to.
    std::optional<expression_value> begin_variable()
    {
        // The token's text lasts until the next token is read: a variable that exists is
        // found now (nothing before the next token can make or remove one), and only the
        // name of one that does not is kept.
        set_value* known = variable_table_find(table_, token_.text);
        std::string name(known == nullptr ? token_.text : std::string_view());
        note_argument(set_argument::form::variable, token_.text);
        shift();
        switch (peek()) {
        case EQUALS:
            shift();
            open_.emplace_back(EQUALS, std::move(name)).variable = known;
            return std::nullopt;
        case RPAREN:
        case SEMICOLON:
        case COMMA:
            reduce(1); // expression -> VARIABLE
            return expression_value(known != nullptr ? *known : variable_reference(table_, name));
        default: syntax_error();
        }
    }

    /// The last operand of an open expression has been read: completes it.
    expression_value finish(open_expression& open, expression_value operand)
    {
        argument_.how = set_argument::form::other;
        switch (open.kind) {
        case EQUALS: {
            reduce(3); // assignment -> VARIABLE "=" expression
            set_value& variable = variable_assign(assigned_variable(open), std::move(operand));
            reduce(1); // expression -> assignment
            return expression_value(variable);
        }
        case KW_INVERT:
            expect(RPAREN);
            reduce(4);
            return expression_value(set_value_complement(std::move(operand)));
        default: break;
        }
        expect(RPAREN);
        reduce(6);
        switch (open.kind) {
        case KW_UNION:
            // A union that an assignment takes at once is made for that variable.
            if (open_.size() >= 2 && open_[open_.size() - 2].kind == EQUALS) {
                set_value& variable = assigned_variable(open_[open_.size() - 2]);
                if (!operand.is_temporary()) {
                    return expression_value(variable_union_assign(variable, std::move(open.first), std::move(operand)));
                }
                // The second operand is only read: it is lent, and its value kept for the next
                // set literal, which is then made without a new allocation.
                std::unique_ptr<set_value> lent = operand.release();
                set_value& result = variable_union_assign(variable, std::move(open.first), expression_value(*lent));
                range_list_clear(lent->ranges);
                lent->ipv6.reset();
                spare_ = std::move(lent);
                return expression_value(result);
            }
            return expression_value(set_value_union(std::move(open.first), std::move(operand)));
        case KW_DIFFERENCE: return expression_value(set_value_difference(std::move(open.first), std::move(operand)));
        default: return expression_value(set_value_intersection(std::move(open.first), std::move(operand)));
        }
    }

    /// The variable an assignment gives its value to, made empty if there is none of its name.
    set_value& assigned_variable(open_expression& assignment)
    {
        // Variables stay where they are until the table is cleared.
        if (assignment.variable == nullptr) assignment.variable = variable_table_find(table_, assignment.name);
        if (assignment.variable == nullptr) assignment.variable = &variable_table_insert(table_, assignment.name);
        return *assignment.variable;
    }

    static void add_element(set_value& value, command_token kind, const token_value& token)
    {
        // The scanner read the numbers of an address literal as it matched it.
        if (kind == HOST_NAME) {
            set_value_add_host(value, token.text);
        } else if (token.adds) {
            set_value_add_read(value, token.range);
        }
    }

    expression_value parse_set_literal()
    {
        shift(); // "{"
        std::unique_ptr<set_value> made = spare_ ? std::move(spare_) : set_value_new();
        if (peek() == RBRACE) {
            shift();
            reduce(2); // set_literal -> "{" "}"
        } else {
            if (!is_element(peek())) syntax_error();
            // Each literal is added as soon as it has been read, before the next token.
            command_token kind = lookahead_;
            shift();
            reduce(1); // element_list -> literal
            add_element(*made, kind, token_);
            while (peek() == COMMA) {
                shift();
                if (!is_element(peek())) syntax_error();
                kind = lookahead_;
                shift();
                reduce(3); // element_list -> element_list "," literal
                add_element(*made, kind, token_);
            }
            expect(RBRACE);
            reduce(3); // set_literal -> "{" element_list "}"
        }
        reduce(1); // expression -> set_literal
        return expression_value(std::move(made));
    }

    /// Reads `keyword "(" word "," place` of a load or a save: word is one of words, or a
    /// host name whose text is host_word (then HOST_NAME); place is a quoted path or the
    /// keyword that names the standard stream.
    call_head parse_call_head(std::initializer_list<command_token> words, std::string_view host_word,
                              command_token standard_stream)
    {
        shift(); // load or save
        expect(LPAREN);
        command_token word = peek();
        bool known = word == HOST_NAME && token_.text == host_word;
        for (command_token candidate : words) known = known || word == candidate;
        // A save's listing may be a string that describes a loader listing, decided by the
        // string alone: any other string there stays the syntax error it was.
        bool loader = !known && word == STRING && standard_stream == KW_STDOUT &&
                      (loader_listing_named(token_.text) || guarded_listing_named(token_.text));
        if (!known && !loader) syntax_error();
        std::string listing(loader ? token_.text : std::string_view());
        shift();
        expect(COMMA);
        call_head head{word, peek() == STRING, {}, std::move(listing)};
        if (!head.named && peek() != standard_stream) syntax_error();
        if (head.named) head.path = token_.text;
        shift();
        return head;
    }

    expression_value parse_load()
    {
        // "auto" is a format only here; everywhere else it is a host name.
        call_head head = parse_call_head({KW_TEXT, KW_P2B}, "auto", KW_STDIN);
        expect(RPAREN);
        reduce(6); // load_expression -> load "(" format "," source ")"
        note_argument(set_argument::form::load, head.named ? std::string_view(head.path) : "stdin");
        std::unique_ptr<set_value> value;
        switch (head.word) {
        case KW_TEXT: value = set_value_load_text(head.place()); break;
        case KW_P2B: value = set_value_load_p2b(head.place()); break;
        default: value = set_value_load_auto(head.place()); break;
        }
        reduce(1); // expression -> load_expression
        return expression_value(std::move(value));
    }

    void parse_save()
    {
        // "count" is a listing only here; everywhere else it is a host name.
        call_head head = parse_call_head({KW_CIDR, KW_RANGE, KW_SINGLE}, "count", KW_STDOUT);
        expect(COMMA);
        expression_value value = parse_expression();
        expect(RPAREN);
        reduce(8); // save_statement -> save "(" listing "," destination "," expression ")"
        switch (head.word) {
        case KW_CIDR: set_value_write_cidr(head.place(), std::move(value)); break;
        case KW_RANGE: set_value_write_ranges(head.place(), std::move(value)); break;
        case KW_SINGLE: set_value_write_addresses(head.place(), std::move(value)); break;
        case STRING: set_value_write_described(head.place(), std::move(value), head.listing); break;
        default: set_value_write_count(head.place(), std::move(value)); break;
        }
    }

    /// "fetch" begins a statement only where a statement begins; everywhere else it is a host name.
    bool starts_fetch() { return peek() == HOST_NAME && token_.text == "fetch"; }

    std::string expect_string()
    {
        if (peek() != STRING) syntax_error();
        std::string text(token_.text);
        shift();
        return text;
    }

    /// fetch_statement -> fetch "(" STRING "," STRING fetch_bounds ")", where fetch_bounds is
    /// empty or fetch_bounds "," word STRING. The fetch runs once its ")" has been read.
    void parse_fetch()
    {
        shift(); // fetch
        expect(LPAREN);
        fetch_request request;
        request.url = expect_string();
        expect(COMMA);
        request.path = expect_string();
        peek(); // the empty fetch_bounds is reduced on the token after the path
        reduce(0); // fetch_bounds -> (empty)
        while (peek() == COMMA) {
            shift();
            std::optional<fetch_bound> bound;
            if (peek() == HOST_NAME) bound = fetch_bound_named(token_.text);
            if (!bound) syntax_error();
            std::string word(token_.text);
            shift();
            std::string text = expect_string();
            reduce(4); // fetch_bounds -> fetch_bounds "," word STRING
            if (!fetch_request_set(request, *bound, text) && request.unreadable_bound.empty()) {
                request.unreadable_bound = word + " '" + text + "'";
            }
        }
        expect(RPAREN);
        reduce(7); // fetch_statement -> fetch "(" STRING "," STRING fetch_bounds ")"
        fetch_run(request);
    }

    /// Remembers how the expression being read was written, while a statement names its sets.
    void note_argument(set_argument::form how, std::string_view text)
    {
        argument_.how = how;
        if (naming_arguments_) argument_.text.assign(text);
    }

    /// A statement's destination: a path in double quotes, or none for stdout.
    std::optional<std::string> parse_destination()
    {
        if (peek() != STRING && peek() != KW_STDOUT) syntax_error();
        std::optional<std::string> path;
        if (peek() == STRING) path.emplace(token_.text);
        shift();
        return path;
    }

    /// set_list -> expression | set_list "," expression, from the "," before the first one: the
    /// sets of a compare or map statement, each with the name the statement gives it.
    void parse_set_list(std::vector<expression_value>& values, std::vector<std::string>& names)
    {
        naming_arguments_ = true;
        do {
            expect(COMMA);
            values.push_back(parse_expression());
            names.push_back(set_argument_name(argument_, values.size()));
            reduce(values.size() == 1 ? 1 : 3);
        } while (peek() == COMMA);
        naming_arguments_ = false;
    }

    bool starts_compare() { return peek() == HOST_NAME && token_.text == "compare"; }

    void parse_compare()
    {
        // "compare", "csv" and "table" are words only here; everywhere else they are host names.
        shift(); // compare
        expect(LPAREN);
        comparison_format format{};
        if (peek() != HOST_NAME || !comparison_format_named(token_.text, format)) syntax_error();
        shift();
        expect(COMMA);
        std::optional<std::string> path = parse_destination();
        std::vector<expression_value> values;
        std::vector<std::string> names;
        parse_set_list(values, names);
        expect(RPAREN);
        reduce(8); // compare_statement -> compare "(" format "," destination "," set_list ")"
        set_value_compare(path ? path->c_str() : nullptr, format, names, std::move(values));
    }

    /// "map" is a statement only at the start of one; everywhere else it is a host name.
    bool starts_map() { return peek() == HOST_NAME && token_.text == "map"; }

    /// map "(" destination "," sets ")", sets being one expression or more, comma-separated:
    /// the map is drawn and saved once its ")" has been read.
    void parse_map()
    {
        shift(); // map
        expect(LPAREN);
        std::optional<std::string> path = parse_destination();
        std::vector<expression_value> values;
        std::vector<std::string> names;
        parse_set_list(values, names);
        expect(RPAREN);
        reduce(6); // map_statement -> map "(" destination "," sets ")"
        set_value_write_map(path ? path->c_str() : nullptr, std::move(values), std::move(names));
    }

    scanner& scanner_;
    variable_table& table_;
    parse_depth depth_;
    command_token lookahead_ = END_OF_INPUT;
    bool has_lookahead_ = false;
    token_value token_;
    std::vector<open_expression> open_;
    /// An empty value, kept to make the next set literal in.
    std::unique_ptr<set_value> spare_;
    /// How the last expression read was written: a compare statement names its sets by it.
    set_argument argument_;
    bool naming_arguments_ = false;
};

} // namespace

void command_parser_run(scanner& language_scanner, variable_table& table)
{
    command_parser(language_scanner, table).run();
}

} // namespace blockset
