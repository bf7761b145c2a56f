#include "command_language/command_parser.h"

#include <string>
#include <string_view>

#include "command_language/command_scanner.h"
#include "command_language/set_value.h"
#include "parsing/scanner.h"

namespace blockset {

namespace {

/// Thrown to abandon the parse after the error has been reported; unwinding releases every
/// temporary the parse still held.
struct parse_stopped {};

/// Recursive descent that behaves like the LR automaton of the grammar: a production's
/// action runs as soon as its last symbol is consumed, a token is read only when the parser
/// needs it to decide, and a depth counter mirrors the LR stack (one entry per shifted token;
/// a reduction of n symbols pops n and pushes one) so that the depth limit falls exactly
/// where the automaton's stack would overflow.
class command_parser {
public:
    command_parser(scanner& language_scanner, variable_table& table)
        : scanner_(language_scanner), table_(table)
    {
    }

    int run()
    {
        try {
            push(); // the start state
            reduce(0); // script -> (empty)
            while (peek() != END_OF_INPUT) {
                parse_statement();
                expect(SEMICOLON);
                reduce(3); // script -> script statement ";"
            }
            return 0;
        } catch (const parse_stopped&) {
            return 1;
        }
    }

private:
    command_token peek()
    {
        if (!has_lookahead_) {
            lookahead_ = command_scanner_next_token(scanner_, text_);
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

    void parse_statement()
    {
        if (peek() == KW_SAVE) {
            parse_save();
        } else {
            parse_expression(); // the statement's value is dropped here
        }
        reduce(1); // statement -> expression | save_statement
    }

    expression_value parse_expression()
    {
        switch (peek()) {
        case VARIABLE: return parse_variable();
        case LBRACE: return parse_set_literal();
        case KW_LOAD: return parse_load();
        case KW_UNION:
        case KW_DIFFERENCE:
        case KW_INTERSECT: return parse_binary_operation(lookahead_);
        case KW_INVERT: {
            shift();
            expect(LPAREN);
            expression_value operand = parse_expression();
            expect(RPAREN);
            reduce(4);
            return expression_value(set_value_complement(std::move(operand)));
        }
        default: syntax_error();
        }
    }

    /// A variable is resolved once the next token shows it is not assigned to.
    expression_value parse_variable()
    {
        std::string name(text_);
        shift();
        switch (peek()) {
        case EQUALS: {
            shift();
            expression_value value = parse_expression();
            reduce(3); // assignment -> VARIABLE "=" expression
            set_value& variable = variable_assign(table_, std::move(name), std::move(value));
            reduce(1); // expression -> assignment
            return expression_value(variable);
        }
        case RPAREN:
        case SEMICOLON:
        case COMMA:
            reduce(1); // expression -> VARIABLE
            return expression_value(variable_reference(table_, std::move(name)));
        default: syntax_error();
        }
    }

    static void add_element(set_value& value, command_token kind, std::string_view text)
    {
        switch (kind) {
        case CIDR_LITERAL: set_value_add_cidr(value, text); break;
        case RANGE_LITERAL: set_value_add_range(value, text); break;
        case ADDRESS_LITERAL: set_value_add_address(value, text); break;
        default: set_value_add_host(value, text); break;
        }
    }

    expression_value parse_set_literal()
    {
        shift(); // "{"
        if (peek() == RBRACE) {
            shift();
            reduce(2); // set_literal -> "{" "}"
            auto value = set_value_new();
            reduce(1); // expression -> set_literal
            return expression_value(std::move(value));
        }
        if (!is_element(peek())) syntax_error();
        // Each literal is added as soon as it has been read, before the next token.
        command_token kind = lookahead_;
        shift();
        reduce(1); // element_list -> literal
        auto value = set_value_new();
        add_element(*value, kind, text_);
        while (peek() == COMMA) {
            shift();
            if (!is_element(peek())) syntax_error();
            kind = lookahead_;
            shift();
            reduce(3); // element_list -> element_list "," literal
            add_element(*value, kind, text_);
        }
        expect(RBRACE);
        reduce(3); // set_literal -> "{" element_list "}"
        reduce(1); // expression -> set_literal
        return expression_value(std::move(value));
    }

    expression_value parse_load()
    {
        shift(); // load
        expect(LPAREN);
        command_token format = peek();
        if (format != KW_TEXT && format != KW_P2B) syntax_error();
        shift();
        expect(COMMA);
        bool from_file = peek() == STRING;
        if (!from_file && peek() != KW_STDIN) syntax_error();
        std::string path(from_file ? text_ : std::string_view());
        shift();
        expect(RPAREN);
        reduce(6); // load_expression -> load "(" format "," source ")"
        const char* source = from_file ? path.c_str() : nullptr;
        auto value = format == KW_TEXT ? set_value_load_text(source) : set_value_load_p2b(source);
        reduce(1); // expression -> load_expression
        return expression_value(std::move(value));
    }

    expression_value parse_binary_operation(command_token operation)
    {
        shift();
        expect(LPAREN);
        expression_value first = parse_expression();
        expect(COMMA);
        expression_value second = parse_expression();
        expect(RPAREN);
        reduce(6);
        switch (operation) {
        case KW_UNION: return expression_value(set_value_union(std::move(first), std::move(second)));
        case KW_DIFFERENCE: return expression_value(set_value_difference(std::move(first), std::move(second)));
        default: return expression_value(set_value_intersection(std::move(first), std::move(second)));
        }
    }

    void parse_save()
    {
        shift(); // save
        expect(LPAREN);
        command_token listing = peek();
        if (listing != KW_CIDR && listing != KW_RANGE && listing != KW_SINGLE) syntax_error();
        shift();
        expect(COMMA);
        bool to_file = peek() == STRING;
        if (!to_file && peek() != KW_STDOUT) syntax_error();
        std::string path(to_file ? text_ : std::string_view());
        shift();
        expect(COMMA);
        expression_value value = parse_expression();
        expect(RPAREN);
        reduce(8); // save_statement -> save "(" listing "," destination "," expression ")"
        const char* destination = to_file ? path.c_str() : nullptr;
        switch (listing) {
        case KW_CIDR: set_value_write_cidr(destination, std::move(value)); break;
        case KW_RANGE: set_value_write_ranges(destination, std::move(value)); break;
        default: set_value_write_addresses(destination, std::move(value)); break;
        }
    }

    scanner& scanner_;
    variable_table& table_;
    parse_depth depth_;
    command_token lookahead_ = END_OF_INPUT;
    bool has_lookahead_ = false;
    std::string_view text_;
};

} // namespace

int command_parser_run(scanner& language_scanner, variable_table& table)
{
    return command_parser(language_scanner, table).run();
}

} // namespace blockset
